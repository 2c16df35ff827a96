#include "progress_bar.h"

#include <algorithm>
#include <string>

namespace kestrova::cli {
namespace {

constexpr int barWidth = 40;
constexpr int lineWidth = barWidth + 7; // "[", the bar, "] ", "100%"

} // namespace

ProgressBar::ProgressBar(std::FILE* terminal) : terminal_(terminal) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(double fraction) {
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
    if (percent == shownPercent_)
        return;
    shownPercent_ = percent;
    const int filled = percent * barWidth / 100;
    const std::string bar = std::string(filled, '#') + std::string(barWidth - filled, '-');
    std::fprintf(terminal_, "\r[%s] %3d%%", bar.c_str(), percent);
    std::fflush(terminal_);
}

void ProgressBar::clear() {
    if (shownPercent_ < 0)
        return;
    std::fprintf(terminal_, "\r%*s\r", lineWidth, "");
    shownPercent_ = -1;
}

void ProgressBar::finish() {
    if (shownPercent_ >= 0)
        std::fputc('\n', terminal_);
    shownPercent_ = -1;
}

} // namespace kestrova::cli
