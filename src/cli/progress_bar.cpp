#include "progress_bar.h"

#include <algorithm>
#include <string>

namespace kestrova::cli {

ProgressBar::ProgressBar(std::FILE* terminal) : terminal_(terminal) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(double fraction) {
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
    if (percent == shownPercent_)
        return;
    shownPercent_ = percent;
    constexpr int width = 40;
    const int filled = percent * width / 100;
    const std::string bar = std::string(filled, '#') + std::string(width - filled, '-');
    std::fprintf(terminal_, "\r[%s] %3d%%", bar.c_str(), percent);
    std::fflush(terminal_);
}

void ProgressBar::finish() {
    if (shownPercent_ >= 0)
        std::fputc('\n', terminal_);
    shownPercent_ = -1;
}

} // namespace kestrova::cli
