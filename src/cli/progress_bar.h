#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

namespace kestrova::cli {

// How far a conversion is: the fraction of its text rendered and, for one file, the seconds
// of sound written, over the time since it began; from them the speed and the time left.
class ProgressMeter {
public:
    ProgressMeter();

    void setFraction(double fraction);
    void setSoundSeconds(double seconds) { soundSeconds_ = seconds; }

    double fraction() const { return fraction_; }
    double elapsedSeconds() const;
    // Seconds of sound a second of work makes; none before any sound (or for a batch).
    std::optional<double> speed() const;
    // None until a little is done: too early a guess only jumps about.
    std::optional<double> secondsLeft() const;

private:
    std::chrono::steady_clock::time_point start_;
    double fraction_ = 0;
    double soundSeconds_ = 0;
};

// What the user is shown as a conversion goes.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void update(double fraction) = 0;
    virtual void soundWritten(double seconds) = 0;
    // Takes the progress off the terminal for a message; the next update shows it again.
    virtual void clear() = 0;
    virtual void finish() = 0;
};

// A one-line bar on a terminal with the speed (times real time) and the time left, redrawn
// when the shown percentage changes or a second has passed.
class ProgressBar : public ProgressView {
public:
    explicit ProgressBar(std::FILE* terminal);
    ~ProgressBar() override;
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(double fraction) override;
    void soundWritten(double seconds) override { meter_.setSoundSeconds(seconds); }
    void clear() override;
    void finish() override;

private:
    std::FILE* terminal_;
    ProgressMeter meter_;
    int shownPercent_ = -1;
    double shownAt_ = 0;
};

// For front ends: one JSON object a line, at most one a second and one at the end,
// {"fraction":0.42,"elapsed":3.1,"sound_seconds":9.8,"speed":3.16,"seconds_left":4.3}
// (speed and seconds_left null until known, sound_seconds null for several files).
class ProgressJsonLines : public ProgressView {
public:
    ProgressJsonLines(std::FILE* stream, bool oneFile);

    void update(double fraction) override;
    void soundWritten(double seconds) override;
    void clear() override {}
    void finish() override;

private:
    void writeLine();

    std::FILE* stream_;
    bool oneFile_;
    ProgressMeter meter_;
    double writtenAt_ = -1;
    double soundSeconds_ = 0;
};

} // namespace kestrova::cli
