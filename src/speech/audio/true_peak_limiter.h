#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <utility>
#include <vector>

namespace kestrova::speech {

// One gain for the whole sound, and a look-ahead limiter that lowers it only where the
// gained sound's true peak would pass the ceiling. Everything is computed in doubles in one
// fixed order from the samples alone: the same samples give the same output every time.
//
// The true peak between two samples is found by 8 times oversampling (a Blackman-windowed
// sinc of 16 taps), only near samples loud enough for it to pass the threshold. The gain
// each such peak needs holds over every sample the peak's interpolation reads, reached over
// the attack before it (so the gain never steps) and released slowly after it. Where nothing
// passes the threshold the gain is exactly the one asked for: with gain 1 the samples come
// out unchanged.
class TruePeakLimiter {
public:
    // gain and ceiling as linear factors of full scale.
    TruePeakLimiter(double gain, double ceiling, int sampleRate);

    // Appends to out every sample that is ready: the limiter looks ahead, so the last ones
    // come with finish().
    void add(std::span<const std::int16_t> samples, std::vector<std::int16_t>& out);
    void finish(std::vector<std::int16_t>& out);

    // Samples the limiter changed.
    std::uint64_t limitedSamples() const { return limitedSamples_; }
    // Runs of lowered gain that changed samples.
    std::uint64_t limitedStretches() const { return limitedStretches_; }

private:
    static constexpr int halfTaps = 8;
    static constexpr int phases = 8;
    using Phase = std::array<double, 2 * halfTaps>;

    // A running minimum (or maximum, with the values negated) over a moving window.
    class SlidingMinimum {
    public:
        void push(std::uint64_t index, double value);
        void dropBefore(std::uint64_t index);
        double minimum() const { return window_.empty() ? 1.0 : window_.front().second; }

    private:
        std::deque<std::pair<std::uint64_t, double>> window_;
    };

    void take(double gained, std::vector<std::int16_t>* out);
    double gainedAt(std::int64_t index) const;
    double requiredGain(std::uint64_t index) const;
    double interpolatedPeak(std::uint64_t index) const;
    void settle(std::uint64_t index, std::vector<std::int16_t>* out);
    void emit(std::uint64_t index, double gain, std::vector<std::int16_t>* out);

    double gain_;
    double threshold_;
    std::uint64_t attack_;
    double releaseKept_; // the share of a reduction still there one sample later
    std::array<Phase, phases> filter_{};
    double interpolationBound_ = 0; // how far an interpolated value can pass its samples

    std::uint64_t received_ = 0; // samples taken in, real or the zeros after the end
    std::uint64_t real_ = 0;     // real samples: only these are given out
    std::uint64_t given_ = 0;
    std::vector<double> gained_; // ring of the gained samples still needed
    std::vector<double> held_;   // ring of the held reductions, over the attack
    SlidingMinimum loudest_;     // the largest magnitude near a sample, negated
    SlidingMinimum needed_;      // the lowest gain any peak near a sample needs
    double released_ = 1.0;
    double reductionSum_ = 0;
    double firstReduction_ = 0;
    std::uint64_t reductionsHeld_ = 0;
    std::uint64_t limitedSamples_ = 0;
    std::uint64_t limitedStretches_ = 0;
    bool stretchCounted_ = false; // the run of lowered gain now has changed a sample
};

} // namespace kestrova::speech
