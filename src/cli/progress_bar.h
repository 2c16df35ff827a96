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
    void finish();

private:
    std::FILE* terminal_;
    int shownPercent_ = -1;
};

} // namespace kestrova::cli
