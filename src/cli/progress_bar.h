#pragma once

#include <cstdio>

namespace kestrova::cli {

// A one-line progress bar on a terminal, redrawn only when the shown percentage changes.
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* terminal);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(double fraction);
    // Wipes the bar off its line, for a message to take it; the next update draws it again.
    void clear();
    void finish();

private:
    std::FILE* terminal_;
    int shownPercent_ = -1;
};

} // namespace kestrova::cli
