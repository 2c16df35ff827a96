#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <utility>
#include <vector>

namespace kestrova::speech {

// The values between two samples, 8 times oversampled through a Blackman-windowed sinc of
// 16 taps, normalised so that a steady level stays that level.
struct PeakInterpolation {
    static constexpr int halfTaps = 8;
    static constexpr int phases = 8;
    using Phase = std::array<double, 2 * halfTaps>;

    PeakInterpolation();
    // The largest magnitude between around[halfTaps - 1] and around[halfTaps].
    double peakBetween(const Phase& around) const;

    std::array<Phase, phases> filter{};
    // How far an interpolated value can pass the largest of its taps: the sum of a phase's
    // coefficients' magnitudes, the largest of them. No value between samples can be above
    // bound times the loudest of the 16 around it, whatever the sound.
    double bound = 0;
};

// The true peak of a sound, the largest magnitude on or between its samples (zeros before the
// first and after the last), in units of a 16-bit step. The values between samples are
// computed only near a sample loud enough that they could pass the peak found so far (see
// PeakInterpolation::bound), which after the first loud syllable is almost nowhere.
class TruePeakMeter {
public:
    TruePeakMeter();
    void add(std::span<const std::int16_t> samples);
    // The peak, every sample added counted: the last ones once the zeros after them are in.
    double finishedPeak();

private:
    static constexpr std::size_t kept = 2 * PeakInterpolation::halfTaps - 1;
    void scan(std::size_t first, std::size_t last);
    void interpolateAt(std::size_t index);

    PeakInterpolation interpolation_;
    std::vector<std::int16_t> work_; // the last `kept` samples, then those being added
    double peak_ = 0;
    bool finished_ = false;
};

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

    // Whether the limiter leaves a stretch of sound alone whose loudest sample is this, in
    // 16-bit steps: with the gain, no value between its samples can pass the ceiling.
    static bool leavesAlone(double gain, double ceiling, double loudest);
    // After this many samples left alone, the limiter is at rest whatever came before: its
    // release has ended and no reduction is held over the attack. From there on it gives
    // what a limiter started afresh on the samples that follow gives.
    static std::uint64_t restsAfter(int sampleRate);

    // Samples the limiter changed.
    std::uint64_t limitedSamples() const { return limitedSamples_; }
    // Runs of lowered gain that changed samples.
    std::uint64_t limitedStretches() const { return limitedStretches_; }

private:
    static constexpr int halfTaps = PeakInterpolation::halfTaps;
    using Phase = PeakInterpolation::Phase;
    static constexpr std::size_t quietRun = 256; // samples passQuietly() looks at together

    // A running minimum (or maximum, with the values negated) over a moving window.
    class SlidingMinimum {
    public:
        void push(std::uint64_t index, double value);
        void dropBefore(std::uint64_t index);
        double minimum() const { return window_.empty() ? 1.0 : window_.front().second; }
        bool empty() const { return window_.empty(); }
        void clear() { window_.clear(); }

    private:
        std::deque<std::pair<std::uint64_t, double>> window_;
    };

    bool passQuietly(std::span<const std::int16_t> samples, std::vector<std::int16_t>& out);
    bool anyPeakPasses(std::uint64_t first, std::uint64_t last) const;
    void take(double gained, std::vector<std::int16_t>* out);
    double gainedAt(std::int64_t index) const {
        return index < 0 ? 0.0 : gained_[static_cast<std::uint64_t>(index) & (gained_.size() - 1)];
    }
    double requiredGain(std::uint64_t index) const;
    double requiredGainAround(std::uint64_t index) const;
    double gainForPeakAt(std::uint64_t index) const;
    double interpolatedPeak(std::uint64_t index) const;
    void settle(std::uint64_t index, std::vector<std::int16_t>* out);
    void emit(std::uint64_t index, double gain, std::vector<std::int16_t>* out);

    double gain_;
    double threshold_;
    std::uint64_t attack_;
    double releaseKept_; // the share of a reduction still there one sample later
    PeakInterpolation interpolation_;

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
