#pragma once

#include "speech/audio/processing/loudness_meter.h"
#include "speech/audio/processing/sample_spool.h"
#include "speech/audio/processing/true_peak_limiter.h"
#include "speech/base/block_handover.h"
#include "speech/conversion/loudness/limiter_pieces.h"
#include "speech/conversion/loudness/loudness_gain_search.h"
#include "speech/converter.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kestrova::speech {

// The integrated loudness through libebur128 without its true peak (4 times oversampled
// throughout, it would cost more than the rest of a pass together), and the true peak
// through our own meter, which interpolates only near the loudest samples.
struct SoundLevel {
    SoundLevel(int sampleRate, bool writtenAsStereo)
        : loudness(sampleRate, writtenAsStereo, false) {}
    void add(std::span<const std::int16_t> samples) {
        loudness.add(samples);
        peaks.add(samples);
    }
    LoudnessMeasure measure();

    LoudnessMeter loudness;
    TruePeakMeter peaks;
};

// A conversion whose level is settled over the whole sound, in two passes. The first takes
// every rendered sample into a spool on disk and a meter; the second reads them back and
// writes them with one gain for the whole sound (the target's), through the true-peak
// limiter where the gained sound would pass the ceiling, measuring what it writes.
class LoudnessPass {
public:
    LoudnessPass(const ConversionRequest& request, Container container,
                 const std::filesystem::path& spoolFolder);

    void add(std::span<const std::int16_t> samples);

    // Every sample, in order and in blocks, to write; a set cancel flag stops it between
    // blocks; done (when set) hears how much of it is done, 0 to 1.
    LoudnessReport replay(const std::function<void(std::span<const std::int16_t>)>& write,
                          const std::atomic<bool>* cancel,
                          const std::function<void(double)>& done = {});

private:
    using Sink = std::function<void(std::span<const std::int16_t>)>;
    // Every sample kept in the range, with the gain and, given a threshold, through the
    // limiter; the limiter's counts into report.
    void readBack(double gainDb, std::optional<double> thresholdDb, const Sink& sink,
                  LoudnessReport* report, const std::atomic<bool>* cancel,
                  const std::function<void(double)>& done = {}, SampleRange range = {});

    // Samples read back, and how many of the spool's were read for them.
    struct ReadBlock {
        std::vector<std::int16_t> samples;
        std::uint64_t readUpTo = 0;
    };
    void readGained(double gain, TruePeakLimiter* limiter, SampleRange range,
                    BlockHandover<ReadBlock>& handover, const std::atomic<bool>* cancel);
    // readBack() of the whole sound through the limiter, piece by piece on every core; false
    // where the sound is one piece.
    bool readLimitedInPieces(double gain, double ceiling, const Sink& sink, LoudnessReport* report,
                             const std::atomic<bool>* cancel,
                             const std::function<void(double)>& done);

    // The gain for a target, and the threshold of the limiter where it is needed.
    struct Level {
        double gainDb = 0;
        std::optional<double> thresholdDb = std::nullopt;
        bool heldAtMost = false; // the gain stopped at what the ceiling allows
    };
    Level levelFor(double targetLufs, const LoudnessMeasure& before, double ceilingDbtp,
                   const std::atomic<bool>* cancel);
    double encodedChangeLu(const Level& level, const std::atomic<bool>* cancel);

    FoundGain limitedGain(double target, double gainDb, double thresholdDb, double peakDbtp,
                          double ceilingDbtp, const std::atomic<bool>* cancel);
    double limiterLossLu(double gainDb, double thresholdDb, const std::atomic<bool>* cancel);
    void limiterChange(std::size_t first, std::size_t last, double gain, double ceiling,
                       std::vector<double>& change, const std::atomic<bool>* cancel);

    // 100 ms of the sound as the first pass saw it: the K-weighted energy of the 400 ms that
    // end with it (libebur128's gating blocks), and its loudest sample. 8 bytes for each
    // 100 ms: 7 MB for a day of sound.
    struct Segment {
        float energy;
        std::int32_t loudest;
    };

    const ConversionRequest& request_;
    Container container_;
    SampleSpool spool_;
    SoundLevel level_;
    std::size_t segmentSamples_; // libebur128's 100 ms
    std::vector<Segment> segments_;
    std::size_t filled_ = 0; // samples of the segment being taken in
    int loudestInSegment_ = 0;
};

// Where the true-peak limiter aims, in dBTP, when a ceiling applies: asked for, below the
// ceiling by a headroom; for a lossy container's own ceiling, at it, so that a sound whose
// peaks stay under it keeps every sample.
std::optional<double> limiterThresholdDb(const ConversionRequest& request, Container container);

} // namespace kestrova::speech
