#include "true_peak_limiter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace kestrova::speech {
namespace {

// Fast enough that a peak is caught within a syllable, slow enough to be heard as no more
// than a slightly softer sound.
constexpr double attackSeconds = 0.002;
constexpr double releaseSeconds = 0.08;
// Less than half a step of the loudest 16-bit sample.
constexpr double smallestReduction = 0.5 / 32768;

double sinc(double x) {
    return x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

double blackman(double x, double half) {
    const double a = std::numbers::pi * x / half;
    return 0.42 + 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
}

// A 16-bit sample of a value, rounded to nearest, ties to even (as std::nearbyint in the
// default rounding mode, without its call): adding and taking away 1.5 * 2^52 leaves no
// bits below the units, exactly so for any magnitude under 2^51.
[[gnu::always_inline]] inline double roundedSample(double value) {
    constexpr double shift = 6755399441055744.0;
    constexpr double highest = std::numeric_limits<std::int16_t>::max();
    constexpr double lowest = std::numeric_limits<std::int16_t>::min();
    return std::clamp((std::clamp(value, -1e9, 1e9) + shift) - shift, lowest, highest);
}

std::size_t ringSizeFor(std::uint64_t span) {
    std::size_t size = 64;
    while (size < span)
        size *= 2;
    return size;
}

} // namespace

void TruePeakLimiter::SlidingMinimum::push(std::uint64_t index, double value) {
    while (!window_.empty() && window_.back().second >= value)
        window_.pop_back();
    window_.emplace_back(index, value);
}

void TruePeakLimiter::SlidingMinimum::dropBefore(std::uint64_t index) {
    while (!window_.empty() && window_.front().first < index)
        window_.pop_front();
}

PeakInterpolation::PeakInterpolation() {
    for (int phase = 1; phase < phases; ++phase) {
        const double fraction = static_cast<double>(phase) / phases;
        double sum = 0;
        for (int tap = 0; tap < 2 * halfTaps; ++tap) {
            const double distance = fraction - (tap - halfTaps + 1);
            filter[phase][tap] = sinc(distance) * blackman(distance, halfTaps);
            sum += filter[phase][tap];
        }
        double magnitude = 0;
        for (double& coefficient : filter[phase]) {
            coefficient /= sum; // a steady level stays that level
            magnitude += std::abs(coefficient);
        }
        bound = std::max(bound, magnitude);
    }
}

double PeakInterpolation::peakBetween(const Phase& around) const {
    double peak = 0;
    for (int phase = 1; phase < phases; ++phase) {
        double value = 0;
        for (int tap = 0; tap < 2 * halfTaps; ++tap)
            value += filter[phase][tap] * around[tap];
        peak = std::max(peak, std::abs(value));
    }
    return peak;
}

TruePeakMeter::TruePeakMeter() : work_(kept, 0) {}

void TruePeakMeter::add(std::span<const std::int16_t> samples) {
    work_.insert(work_.end(), samples.begin(), samples.end());
    // Between samples i and i + 1 the taps run from i - (halfTaps - 1) to i + halfTaps: the
    // first `kept` samples were taken in before, the gaps after them are new.
    constexpr std::size_t before = PeakInterpolation::halfTaps - 1;
    constexpr std::size_t after = PeakInterpolation::halfTaps;
    if (work_.size() >= kept + 1)
        scan(before, work_.size() - after);
    work_.erase(work_.begin(), work_.end() - kept);
}

double TruePeakMeter::finishedPeak() {
    if (!finished_) {
        const std::array<std::int16_t, kept + 1> zeros{};
        add(zeros);
        finished_ = true;
    }
    return peak_;
}

// The samples themselves, then the gaps in runs: a run is looked into only where the loudest
// sample its taps read, times the bound, could pass the peak found so far.
void TruePeakMeter::scan(std::size_t first, std::size_t last) {
    for (std::size_t at = first; at < last; ++at)
        peak_ = std::max(peak_, std::abs(static_cast<double>(work_[at])));
    constexpr std::size_t run = 64;
    constexpr std::size_t before = PeakInterpolation::halfTaps - 1;
    constexpr std::size_t after = PeakInterpolation::halfTaps;
    for (std::size_t from = first; from < last; from += run) {
        const std::size_t to = std::min(last, from + run);
        int loudest = 0;
        for (std::size_t tap = from - before; tap < to + after; ++tap)
            loudest = std::max(loudest, std::abs(static_cast<int>(work_[tap])));
        if (loudest * interpolation_.bound <= peak_)
            continue;
        for (std::size_t gap = from; gap < to; ++gap)
            interpolateAt(gap);
    }
}

void TruePeakMeter::interpolateAt(std::size_t index) {
    constexpr std::size_t before = PeakInterpolation::halfTaps - 1;
    PeakInterpolation::Phase around{};
    int loudest = 0;
    for (std::size_t tap = 0; tap < around.size(); ++tap) {
        around[tap] = work_[index - before + tap];
        loudest = std::max(loudest, std::abs(static_cast<int>(work_[index - before + tap])));
    }
    if (loudest * interpolation_.bound > peak_)
        peak_ = std::max(peak_, interpolation_.peakBetween(around));
}

TruePeakLimiter::TruePeakLimiter(double gain, double ceiling, int sampleRate)
    : gain_(gain), threshold_(ceiling * 32768.0),
      attack_(std::max<std::uint64_t>(1, std::llround(sampleRate * attackSeconds))),
      releaseKept_(std::exp(-1.0 / (sampleRate * releaseSeconds))) {
    // Room for a run taken in whole by passQuietly() too.
    gained_.assign(ringSizeFor(attack_ + 2 * halfTaps + 2 + quietRun), 0.0);
    held_.assign(ringSizeFor(attack_ + 1), 0.0);
}

// As requiredGain() finds it, with a hair to spare for the rounding.
bool TruePeakLimiter::leavesAlone(double gain, double ceiling, double loudest) {
    static const double bound = PeakInterpolation().bound;
    return gain * loudest * bound <= ceiling * 32768.0 * (1 - 1e-9);
}

// The deepest reduction (less than 1) released to under smallestReduction, with a margin for
// the rounding of each step; then the attack over which reductions are held, and the taps.
std::uint64_t TruePeakLimiter::restsAfter(int sampleRate) {
    const double kept = std::exp(-1.0 / (sampleRate * releaseSeconds));
    const auto release =
        static_cast<std::uint64_t>(std::ceil(std::log(smallestReduction) / std::log(kept) * 1.01));
    const auto attack = std::max<std::uint64_t>(1, std::llround(sampleRate * attackSeconds));
    return release + 2 * attack + 4 * halfTaps;
}

void TruePeakLimiter::add(std::span<const std::int16_t> samples, std::vector<std::int16_t>& out) {
    while (!samples.empty()) {
        const std::span<const std::int16_t> part =
            samples.first(std::min(quietRun, samples.size()));
        if (!passQuietly(part, out)) {
            for (const std::int16_t sample : part) {
                ++real_;
                take(gain_ * sample, &out);
            }
        }
        samples = samples.subspan(part.size());
    }
}

// Most of a sound has no peak that passes the threshold. There, with no peak waiting in
// needed_, take() would push nothing there and only settle each sample: this settles them
// without the windows' bookkeeping (the same output), looking between samples only near one
// loud enough for it to matter (PeakInterpolation::bound), and leaves the windows as take()
// would have.
bool TruePeakLimiter::passQuietly(std::span<const std::int16_t> samples,
                                  std::vector<std::int16_t>& out) {
    const std::uint64_t lag = attack_ - 1 + 2 * halfTaps;
    if (received_ < lag + attack_ + 2 * halfTaps || received_ != real_ || !needed_.empty())
        return false;
    const std::uint64_t first = received_;
    for (const std::int16_t sample : samples)
        gained_[received_++ & (gained_.size() - 1)] = gain_ * sample;
    // The peaks take() would look at for these samples: halfTaps before each.
    if (anyPeakPasses(first - halfTaps, received_ - halfTaps)) {
        received_ = first;
        return false;
    }
    real_ = received_;
    if (released_ == 1.0 && reductionsHeld_ == 0) {
        // No reduction held or on its way: settle() would give each sample gain 1.
        const std::size_t mask = held_.size() - 1;
        for (std::uint64_t j = first; j < received_; ++j) {
            held_[(j - lag) & mask] = 0.0;
            out.push_back(static_cast<std::int16_t>(
                roundedSample(gainedAt(static_cast<std::int64_t>(j - lag)))));
        }
        given_ += received_ - first;
        stretchCounted_ = false;
        reductionSum_ = 0;
    } else {
        for (std::uint64_t j = first; j < received_; ++j)
            settle(j - lag, &out);
    }
    loudest_.clear();
    for (std::uint64_t index = received_ - 2 * halfTaps; index < received_; ++index)
        loudest_.push(index, -std::abs(gainedAt(static_cast<std::int64_t>(index))));
    return true;
}

// Whether requiredGain() would be below 1 at any sample from first to last: only a sample
// whose interpolation reads one louder than threshold / bound can be.
bool TruePeakLimiter::anyPeakPasses(std::uint64_t first, std::uint64_t last) const {
    std::uint64_t looked = first; // every sample before this one is known not to pass
    for (std::uint64_t tap = first - (halfTaps - 1); tap < last + halfTaps; ++tap) {
        if (std::abs(gainedAt(static_cast<std::int64_t>(tap))) * interpolation_.bound <= threshold_)
            continue;
        // The samples whose interpolation reads this tap.
        const std::uint64_t until = std::min(last, tap + halfTaps);
        for (std::uint64_t index = std::max(looked, tap - halfTaps); index < until; ++index)
            if (requiredGainAround(index) < 1.0)
                return true;
        looked = std::max(looked, until);
    }
    return false;
}

void TruePeakLimiter::finish(std::vector<std::int16_t>& out) {
    while (given_ < real_)
        take(0.0, &out);
}

// Takes sample j in; settles sample j - (attack - 1) - 2 * halfTaps, the last whose gain
// every sample up to j decides.
void TruePeakLimiter::take(double gained, std::vector<std::int16_t>* out) {
    const std::uint64_t j = received_++;
    gained_[j & (gained_.size() - 1)] = gained;
    loudest_.push(j, -std::abs(gained));
    if (j < static_cast<std::uint64_t>(halfTaps))
        return;
    const std::uint64_t peak = j - halfTaps;
    if (j + 1 >= 2 * halfTaps)
        loudest_.dropBefore(j + 1 - 2 * halfTaps);
    // The window's minimum is 1 where it holds nothing: a gain of 1 need not be kept.
    if (const double needed = requiredGain(peak); needed < 1.0)
        needed_.push(peak, needed);
    const std::uint64_t lag = attack_ - 1 + halfTaps;
    if (peak < lag)
        return;
    const std::uint64_t settled = peak - lag;
    needed_.dropBefore(settled < static_cast<std::uint64_t>(halfTaps) ? 0 : settled - halfTaps);
    settle(settled, out);
}

// The gain the sound around a sample may have at most: 1 unless its peak, or a peak between
// it and the next, passes the threshold.
double TruePeakLimiter::requiredGain(std::uint64_t index) const {
    const double loudest = -loudest_.minimum();
    if (loudest * interpolation_.bound <= threshold_)
        return 1.0;
    return gainForPeakAt(index);
}

// requiredGain() with its window's loudest sample found here rather than kept.
double TruePeakLimiter::requiredGainAround(std::uint64_t index) const {
    const auto first = static_cast<std::int64_t>(index) - halfTaps + 1;
    double loudest = 0;
    for (std::int64_t tap = first; tap < first + 2 * halfTaps; ++tap)
        loudest = std::max(loudest, std::abs(gainedAt(tap)));
    return loudest * interpolation_.bound <= threshold_ ? 1.0 : gainForPeakAt(index);
}

double TruePeakLimiter::gainForPeakAt(std::uint64_t index) const {
    const double peak =
        std::max(std::abs(gainedAt(static_cast<std::int64_t>(index))), interpolatedPeak(index));
    return peak > threshold_ ? threshold_ / peak : 1.0;
}

double TruePeakLimiter::interpolatedPeak(std::uint64_t index) const {
    const auto first = static_cast<std::int64_t>(index) - halfTaps + 1;
    Phase around{};
    for (int tap = 0; tap < 2 * halfTaps; ++tap)
        around[tap] = gainedAt(first + tap);
    return interpolation_.peakBetween(around);
}

// The gain of a sample: the lowest any peak within the attack after it needs, released
// slowly, then averaged over the attack so that it ramps rather than steps. The average is
// kept as a sum of reductions that is exactly 0 where nothing is reduced.
void TruePeakLimiter::settle(std::uint64_t index, std::vector<std::int16_t>* out) {
    released_ = std::min(needed_.minimum(), 1.0 - (1.0 - released_) * releaseKept_);
    // A release ends: a reduction too small to change any 16-bit sample is none.
    if (1.0 - released_ < smallestReduction)
        released_ = 1.0;
    const double reduction = 1.0 - released_;
    const std::size_t mask = held_.size() - 1;
    // Before the first sample the gain is taken as the first one's, so that a sound that
    // begins with a peak is held from its first sample.
    if (index == 0) {
        firstReduction_ = reduction;
        reductionSum_ = static_cast<double>(attack_ - 1) * reduction;
        reductionsHeld_ = reduction > 0 ? attack_ - 1 : 0;
    } else {
        const double leaving = index >= attack_ ? held_[(index - attack_) & mask] : firstReduction_;
        reductionSum_ -= leaving;
        reductionsHeld_ -= leaving > 0 ? 1 : 0;
    }
    held_[index & mask] = reduction;
    reductionSum_ += reduction;
    reductionsHeld_ += reduction > 0 ? 1 : 0;
    if (reductionsHeld_ == 0)
        reductionSum_ = 0;
    emit(index, 1.0 - reductionSum_ / static_cast<double>(attack_), out);
}

// A sample counts as limited where the limiter changed it; a stretch, a run of lowered gain
// that changed any.
void TruePeakLimiter::emit(std::uint64_t index, double gain, std::vector<std::int16_t>* out) {
    if (index >= real_)
        return;
    ++given_;
    const double gained = gainedAt(static_cast<std::int64_t>(index));
    const double value = roundedSample(gained * gain);
    const bool changed = gain != 1.0 && value != roundedSample(gained);
    if (gain >= 1.0)
        stretchCounted_ = false;
    limitedSamples_ += changed ? 1 : 0;
    if (changed && !stretchCounted_) {
        ++limitedStretches_;
        stretchCounted_ = true;
    }
    out->push_back(static_cast<std::int16_t>(value));
}

} // namespace kestrova::speech
