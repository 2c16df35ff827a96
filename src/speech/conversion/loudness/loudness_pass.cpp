#include "speech/conversion/loudness/loudness_pass.h"

#include "speech/audio/processing/encoded_loudness.h"
#include "speech/audio/processing/k_weighting.h"
#include "speech/audio/processing/sample_gain.h"
#include "speech/audio/processing/true_peak_limiter.h"
#include "speech/base/block_handover.h"
#include "speech/base/ordered_pieces.h"
#include "speech/conversion/loudness/loudness_gain_search.h"
#include "speech/conversion/request_rules.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace kestrova::speech {
namespace {

// The limiter aims this far below the ceiling: its own reading of the true peak and another
// meter's (oversampled otherwise, or after the rounding to 16 bits) differ by less; and a
// lossy encoder gives back peaks a few tenths of a dB above those it was given.
double limiterHeadroomDb(Container container) {
    return isLossy(container) ? 0.7 : 0.2;
}

constexpr std::size_t blockSamples = 1 << 16;

// One gain for the whole sound; none for a sound with nothing audible to measure.
double gainDbFor(double targetLufs, const LoudnessMeasure& before) {
    return std::isfinite(before.integratedLufs) ? targetLufs - before.integratedLufs : 0;
}

// A lossy encoder's change of loudness is measured on this much of the sound: it is the
// same all through (a scale, at LAME's constant rates), and encoding is the slow part.
constexpr int trialSeconds = 10;

// Segments of sound around a run that the limiter may change whose change is measured too:
// its release (80 ms) and the K-weighting filter's ringing have ended within them.
constexpr std::size_t marginSegments = 3;

// BS.1770's absolute gate: the energy of a 400 ms block at -70 LUFS.
const double absoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);

// BS.1770's gated loudness of 400 ms blocks by their energies: the blocks above -70 LUFS,
// then those of them less than 10 LU under their mean.
double gatedLoudness(std::span<const double> energies) {
    const auto meanAbove = [&](double gate) {
        double sum = 0;
        std::size_t count = 0;
        for (const double energy : energies)
            if (energy >= gate) {
                sum += energy;
                ++count;
            }
        return count == 0 ? 0.0 : sum / static_cast<double>(count);
    };
    const double relativeGate = meanAbove(absoluteGate) / 10.0;
    const double mean = meanAbove(std::max(absoluteGate, relativeGate));
    return mean > 0 ? 10.0 * std::log10(mean) - 0.691 : -std::numeric_limits<double>::infinity();
}

} // namespace

LoudnessMeasure SoundLevel::measure() {
    LoudnessMeasure measure = loudness.measure();
    const double peak = peaks.finishedPeak() / 32768.0;
    measure.truePeakDbtp =
        peak > 0 ? decibelsOfGain(peak) : -std::numeric_limits<double>::infinity();
    return measure;
}

LoudnessPass::LoudnessPass(const ConversionRequest& request, Container container,
                           const std::filesystem::path& spoolFolder)
    : request_(request), container_(container),
      spool_(spoolFolder, request.output.path, soundFileKind(container)),
      level_(request.output.format.sampleRate, request.output.format.channels == 2),
      segmentSamples_(static_cast<std::size_t>((request.output.format.sampleRate + 5) / 10)) {}

void LoudnessPass::add(std::span<const std::int16_t> samples) {
    spool_.write(samples);
    level_.peaks.add(samples);
    while (!samples.empty()) {
        const std::size_t take = std::min(samples.size(), segmentSamples_ - filled_);
        const std::span<const std::int16_t> part = samples.first(take);
        level_.loudness.add(part);
        for (const std::int16_t sample : part)
            loudestInSegment_ = std::max(loudestInSegment_, std::abs(static_cast<int>(sample)));
        filled_ += take;
        if (filled_ == segmentSamples_) {
            segments_.push_back({.energy = static_cast<float>(level_.loudness.momentaryEnergy()),
                                 .loudest = loudestInSegment_});
            filled_ = 0;
            loudestInSegment_ = 0;
        }
        samples = samples.subspan(take);
    }
}

LoudnessReport LoudnessPass::replay(const Sink& write, const std::atomic<bool>* cancel,
                                    const std::function<void(double)>& done) {
    const LoudnessMeasure before = level_.measure();
    LoudnessReport report{
        .before = before,
        .ceilingDbtp = request_.mastering.loudness.truePeakDbtp.value_or(defaultTruePeakDbtp)};
    const double target = *request_.mastering.loudness.targetLufs;
    Level level = levelFor(target, before, report.ceilingDbtp, cancel);
    // What a lossy encoder takes off (or adds) is made up by aiming the samples it is given
    // that much the other way. (FFmpeg's AAC encoder, in its module, keeps the level.)
    if (isLossy(container_) && containerRow(container_).bySndfile &&
        std::isfinite(before.integratedLufs)) {
        const double change = encodedChangeLu(level, cancel);
        if (std::abs(change) > closeEnoughLu) {
            level = levelFor(target - change, before, report.ceilingDbtp, cancel);
            report.encoderChangeLu = change;
        }
    }
    report.gainDb = level.gainDb;
    SoundLevel after(request_.output.format.sampleRate, request_.output.format.channels == 2);
    readBack(
        level.gainDb, level.thresholdDb,
        [&](std::span<const std::int16_t> samples) {
            after.add(samples);
            write(samples);
        },
        &report, cancel, done);
    report.after = after.measure();
    // Held at the most, the sound can still land on the target where the gating steps.
    report.targetOutOfReach =
        level.heldAtMost &&
        report.after->integratedLufs + report.encoderChangeLu < target - closeEnoughLu;
    return report;
}

// The gain to the target, and the limiter's threshold where the gained sound passes it.
LoudnessPass::Level LoudnessPass::levelFor(double targetLufs, const LoudnessMeasure& before,
                                           double ceilingDbtp, const std::atomic<bool>* cancel) {
    Level level{.gainDb = gainDbFor(targetLufs, before)};
    const double threshold = limiterThresholdDb(request_, container_).value_or(0);
    if (!(level.gainDb + before.truePeakDbtp > threshold))
        return level;
    level.thresholdDb = threshold;
    if (std::isfinite(before.integratedLufs)) {
        const FoundGain found = limitedGain(targetLufs, level.gainDb, threshold,
                                            before.truePeakDbtp, ceilingDbtp, cancel);
        level.gainDb = found.gainDb;
        level.heldAtMost = found.heldAtMost;
    }
    return level;
}

// The encoder's change of loudness on trialSeconds of the sound as it will be written, from
// the first 400 ms that the gating counts as audible.
double LoudnessPass::encodedChangeLu(const Level& level, const std::atomic<bool>* cancel) {
    std::size_t first = 0;
    while (first < segments_.size() && !(segments_[first].energy >= absoluteGate))
        ++first;
    const std::uint64_t from = (first > 3 ? first - 3 : 0) * segmentSamples_;
    std::vector<std::int16_t> trial;
    readBack(level.gainDb, level.thresholdDb,
             [&](std::span<const std::int16_t> samples) {
                 trial.insert(trial.end(), samples.begin(), samples.end());
             },
             nullptr, cancel, {},
             {.from = from,
              .to = from +
                    static_cast<std::uint64_t>(trialSeconds * request_.output.format.sampleRate)});
    return encodedLoudnessChangeLu(request_.output.path, container_, request_.output.format,
                                   request_.output.bitrateKbps, trial);
}

// The limiter takes some loudness off with the peaks (up to half a LU for speech raised by
// 10 dB): the gain is raised until the limited sound's estimated loudness is within a
// twentieth of a LU of the target, but never so far that the peaks would pass the ceiling by
// more than mostLimitingDb before the limiter: beyond that each dB of gain gives a fraction
// of a LU and flattens the speech.
FoundGain LoudnessPass::limitedGain(double target, double gainDb, double thresholdDb,
                                    double peakDbtp, double ceilingDbtp,
                                    const std::atomic<bool>* cancel) {
    const double before = target - gainDb;
    return searchGain(
        {.targetLufs = target,
         .plainGainDb = gainDb,
         .mostGainDb = ceilingDbtp + mostLimitingDb - peakDbtp},
        [&](double gain) { return before + gain - limiterLossLu(gain, thresholdDb, cancel); });
}

// How much loudness the limiter takes off at this gain, estimated without a pass over the
// whole sound: only around the 100 ms segments whose loudest sample, with the gain, is less
// than 3 dB under the threshold is the limiter run, and its output's K-weighted energy
// compared with the unlimited sound's; the 400 ms blocks measured in the first pass, changed
// by that much, are gated again. 3 dB: a tone at f passes its samples by at most
// 1 / cos(pi f / rate), 3 dB at a quarter of the rate, and the loud parts of speech (voiced
// sounds) lie well below that; a peak missed this way is one the limiter barely touches.
double LoudnessPass::limiterLossLu(double gainDb, double thresholdDb,
                                   const std::atomic<bool>* cancel) {
    if (segments_.size() < 4)
        return 0;
    const double gain = gainOfDecibels(gainDb);
    const double quiet = gainOfDecibels(thresholdDb - 3.0) * 32768.0;
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t at = 0; at < segments_.size();) {
        if (!(gain * segments_[at].loudest > quiet)) {
            ++at;
            continue;
        }
        std::size_t end = at + 1; // the run, segments closer than two margins joined
        for (std::size_t next = end; next < segments_.size() && next < end + 2 * marginSegments;
             ++next)
            if (gain * segments_[next].loudest > quiet)
                end = next + 1;
        runs.emplace_back(at > marginSegments ? at - marginSegments : 0,
                          std::min(segments_.size(), end + marginSegments));
        at = end;
    }
    // The runs' segments do not overlap: each segment's change comes from one run, whichever
    // thread measures it. Half of the runs on another core.
    std::vector<double> change(segments_.size(), 0.0);
    const auto measureRuns = [&](std::size_t parity) {
        for (std::size_t run = parity; run < runs.size(); run += 2)
            limiterChange(runs[run].first, runs[run].second, gain, gainOfDecibels(thresholdDb),
                          change, cancel);
    };
    spool_.read(0, {}); // written out whole: from here on reading only reads
    std::future<void> other = std::async(std::launch::async, measureRuns, 1);
    try {
        measureRuns(0);
    } catch (...) {
        other.wait();
        throw;
    }
    other.get();
    const double weight = request_.output.format.channels == 2 ? 2.0 : 1.0;
    const double perBlock =
        weight / (4.0 * static_cast<double>(segmentSamples_) * 32768.0 * 32768.0);
    std::vector<double> plain;
    std::vector<double> limited;
    for (std::size_t block = 3; block < segments_.size(); ++block) {
        plain.push_back(gain * gain * segments_[block].energy);
        double changed = 0;
        for (std::size_t segment = block - 3; segment <= block; ++segment)
            changed += change[segment];
        limited.push_back(std::max(0.0, plain.back() + changed * perBlock));
    }
    return gatedLoudness(plain) - gatedLoudness(limited);
}

// The limiter over segments [first, last), started at rest: by each segment, how much more
// K-weighted energy (in 16-bit steps squared) its output has than the gained input's.
void LoudnessPass::limiterChange(std::size_t first, std::size_t last, double gain, double ceiling,
                                 std::vector<double>& change, const std::atomic<bool>* cancel) {
    const std::uint64_t from = first * segmentSamples_;
    const std::uint64_t to = last * segmentSamples_;
    TruePeakLimiter limiter(gain, ceiling, request_.output.format.sampleRate);
    KWeighting plain(request_.output.format.sampleRate);
    KWeighting limited(request_.output.format.sampleRate);
    std::vector<std::int16_t> block(blockSamples);
    std::vector<std::int16_t> out;
    std::uint64_t compared = from;
    const auto compare = [&] {
        const std::size_t count = spool_.read(compared, std::span(block).first(out.size()));
        // Segment by segment, each one's sum kept in a register: the same additions in the
        // same order as one by one into change, without a division for each sample.
        for (std::size_t i = 0; i < count;) {
            const std::uint64_t segment = (compared + i) / segmentSamples_;
            const auto end = static_cast<std::size_t>(
                std::min<std::uint64_t>(count, (segment + 1) * segmentSamples_ - compared));
            double sum = change[segment];
            for (; i < end; ++i) {
                const double a = plain(gain * block[i]);
                const double b = limited(out[i]);
                sum += b * b - a * a;
            }
            change[segment] = sum;
        }
        compared += count;
    };
    for (std::uint64_t at = from; at < to;) {
        throwIfCancelled(cancel, request_);
        const std::size_t count =
            spool_.read(at, std::span(block).first(static_cast<std::size_t>(
                                std::min<std::uint64_t>(to - at, block.size()))));
        if (count == 0)
            break;
        at += count;
        out.clear();
        limiter.add(std::span(block).first(count), out);
        compare();
    }
    out.clear();
    limiter.finish(out);
    compare();
}

// The samples are read and limited on a thread of their own while this one measures and
// writes what it hands over: the limiter and the writing, with the meter after it, each take
// about as long, and on two cores side by side. The blocks come in order, so the bytes are
// those of one thread doing both.
void LoudnessPass::readBack(double gainDb, std::optional<double> thresholdDb, const Sink& sink,
                            LoudnessReport* report, const std::atomic<bool>* cancel,
                            const std::function<void(double)>& done, SampleRange range) {
    if (thresholdDb && range.from == 0 && range.to == UINT64_MAX &&
        readLimitedInPieces(gainOfDecibels(gainDb), gainOfDecibels(*thresholdDb), sink, report,
                            cancel, done))
        return;
    BlockHandover<ReadBlock> handover(4); // blocks: half a MB
    std::optional<TruePeakLimiter> limiter;
    if (thresholdDb)
        limiter.emplace(gainOfDecibels(gainDb), gainOfDecibels(*thresholdDb),
                        request_.output.format.sampleRate);
    std::thread reading([&] {
        try {
            readGained(gainOfDecibels(gainDb), limiter ? &*limiter : nullptr, range, handover,
                       cancel);
            handover.finish();
        } catch (...) {
            handover.fail(std::current_exception());
        }
    });
    try {
        while (std::optional<ReadBlock> block = handover.pop()) {
            throwIfCancelled(cancel, request_);
            if (done)
                done(static_cast<double>(block->readUpTo) /
                     static_cast<double>(std::max<std::uint64_t>(1, spool_.samples())));
            sink(block->samples);
        }
        handover.rethrow();
    } catch (...) {
        handover.stop();
        reading.join();
        throw;
    }
    reading.join();
    if (limiter && report) {
        report->limitedSamples = limiter->limitedSamples();
        report->limitedStretches = limiter->limitedStretches();
    }
}

// The limiter is most of the second pass's work: it runs on pieces side by side, each with a
// limiter of its own, taken out in order. A piece's 16 blocks hold 48 s of sound at 22.05 kHz.
bool LoudnessPass::readLimitedInPieces(double gain, double ceiling, const Sink& sink,
                                       LoudnessReport* report, const std::atomic<bool>* cancel,
                                       const std::function<void(double)>& done) {
    std::vector<std::int32_t> loudest;
    for (const Segment& segment : segments_)
        loudest.push_back(segment.loudest);
    const int rate = request_.output.format.sampleRate;
    const std::vector<SampleRange> pieces =
        limiterPieces(loudest, segmentSamples_, spool_.samples(), gain, ceiling, rate);
    if (pieces.size() < 2)
        return false;
    std::vector<TruePeakLimiter> limiters(pieces.size(), TruePeakLimiter(gain, ceiling, rate));
    spool_.read(0, {}); // written out whole: from here on reading only reads
    takePiecesInOrder<ReadBlock>(
        pieces.size(), std::min(4u, std::max(1u, std::thread::hardware_concurrency())), 16,
        [&](std::size_t piece, BlockHandover<ReadBlock>& handover) {
            readGained(gain, &limiters[piece], pieces[piece], handover, cancel);
        },
        [&](ReadBlock& block) {
            throwIfCancelled(cancel, request_);
            if (done)
                done(static_cast<double>(block.readUpTo) /
                     static_cast<double>(std::max<std::uint64_t>(1, spool_.samples())));
            sink(block.samples);
        });
    if (report)
        for (const TruePeakLimiter& limiter : limiters) {
            report->limitedSamples += limiter.limitedSamples();
            report->limitedStretches += limiter.limitedStretches();
        }
    return true;
}

// Every sample kept, with the gain and through the limiter when there is one, handed over in
// blocks; stops early when the other side has.
void LoudnessPass::readGained(double gain, TruePeakLimiter* limiter, SampleRange range,
                              BlockHandover<ReadBlock>& handover, const std::atomic<bool>* cancel) {
    std::vector<std::int16_t> block(blockSamples);
    for (std::uint64_t from = range.from; from < range.to;) {
        throwIfCancelled(cancel, request_);
        const std::size_t count =
            spool_.read(from, std::span(block).first(static_cast<std::size_t>(
                                  std::min<std::uint64_t>(range.to - from, block.size()))));
        if (count == 0)
            break;
        from += count;
        ReadBlock out{.samples = {}, .readUpTo = from};
        const std::span<std::int16_t> samples(block.data(), count);
        if (limiter) {
            out.samples.reserve(count);
            limiter->add(samples, out.samples);
        } else {
            if (gain != 1.0)
                applyGain(samples, gain); // below the ceiling: nothing clips
            out.samples.assign(samples.begin(), samples.end());
        }
        if (!handover.push(std::move(out)))
            return;
    }
    if (!limiter)
        return;
    ReadBlock last{.samples = {}, .readUpTo = std::min(range.to, spool_.samples())};
    limiter->finish(last.samples);
    handover.push(std::move(last));
}

std::optional<double> limiterThresholdDb(const ConversionRequest& request, Container container) {
    const double ceiling = request.mastering.loudness.truePeakDbtp.value_or(defaultTruePeakDbtp);
    if (request.mastering.loudness.changesLevel())
        return ceiling - limiterHeadroomDb(container);
    if (isLossy(container))
        return ceiling;
    return std::nullopt;
}

} // namespace kestrova::speech
