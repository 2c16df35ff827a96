#include "progress_bar.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kestrova::cli {
namespace {

constexpr int barWidth = 40;
// "[", the bar, "] ", "100%", and room for "  12.3x  1:02:03 left".
constexpr int lineWidth = barWidth + 7 + 24;

std::string clockTime(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string jsonNumber(std::optional<double> value) {
    if (!value || !std::isfinite(*value))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
}

} // namespace

ProgressMeter::ProgressMeter() : start_(std::chrono::steady_clock::now()) {}

void ProgressMeter::setFraction(double fraction) {
    fraction_ = std::clamp(fraction, 0.0, 1.0);
}

double ProgressMeter::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::optional<double> ProgressMeter::speed() const {
    const double elapsed = elapsedSeconds();
    if (soundSeconds_ <= 0 || elapsed <= 0)
        return std::nullopt;
    return soundSeconds_ / elapsed;
}

std::optional<double> ProgressMeter::secondsLeft() const {
    const double elapsed = elapsedSeconds();
    if (fraction_ >= 1)
        return 0.0;
    if (fraction_ < 0.02 || elapsed < 1)
        return std::nullopt;
    return elapsed * (1 - fraction_) / fraction_;
}

ProgressBar::ProgressBar(std::FILE* terminal) : terminal_(terminal) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(double fraction) {
    meter_.setFraction(fraction);
    const int percent = static_cast<int>(meter_.fraction() * 100);
    const double now = meter_.elapsedSeconds();
    if (percent == shownPercent_ && now - shownAt_ < 1)
        return;
    shownPercent_ = percent;
    shownAt_ = now;
    const int filled = percent * barWidth / 100;
    std::string line = "[";
    line.append(filled, '#').append(barWidth - filled, '-').append("] ");
    char figures[64];
    std::snprintf(figures, sizeof figures, "%3d%%", percent);
    line += figures;
    if (const auto speed = meter_.speed()) {
        std::snprintf(figures, sizeof figures, "  %.1fx", *speed);
        line += figures;
    }
    if (const auto left = meter_.secondsLeft())
        line += "  " + clockTime(*left) + " left";
    std::fprintf(terminal_, "\r%-*s", lineWidth, line.c_str());
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

ProgressJsonLines::ProgressJsonLines(std::FILE* stream, bool oneFile)
    : stream_(stream), oneFile_(oneFile) {}

void ProgressJsonLines::update(double fraction) {
    meter_.setFraction(fraction);
    if (writtenAt_ < 0 || meter_.elapsedSeconds() - writtenAt_ >= 1)
        writeLine();
}

void ProgressJsonLines::soundWritten(double seconds) {
    soundSeconds_ = seconds;
    meter_.setSoundSeconds(seconds);
}

void ProgressJsonLines::finish() {
    writeLine();
}

void ProgressJsonLines::writeLine() {
    writtenAt_ = meter_.elapsedSeconds();
    const std::string sound = oneFile_ ? jsonNumber(soundSeconds_) : "null";
    std::fprintf(stream_,
                 "{\"fraction\":%s,\"elapsed\":%s,\"sound_seconds\":%s,\"speed\":%s,"
                 "\"seconds_left\":%s}\n",
                 jsonNumber(meter_.fraction()).c_str(), jsonNumber(writtenAt_).c_str(),
                 sound.c_str(), jsonNumber(oneFile_ ? meter_.speed() : std::nullopt).c_str(),
                 jsonNumber(meter_.secondsLeft()).c_str());
    std::fflush(stream_);
}

} // namespace kestrova::cli
