#include "speech/conversion/loudness_pass.h"

#include "speech/audio/sample_gain.h"
#include "speech/audio/true_peak_limiter.h"
#include "speech/conversion/request_rules.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace kestrova::speech {
namespace {

// The limiter aims this far below the ceiling: its own reading of the true peak and another
// meter's (oversampled otherwise, or after the rounding to 16 bits) differ by less; and a
// lossy encoder gives back peaks a few tenths of a dB above those it was given.
double limiterHeadroomDb(Container container) {
    return isLossy(container) ? 0.7 : 0.2;
}

// Nearer the target than this, the gain is not raised again.
constexpr double closeEnoughLu = 0.05;

constexpr std::size_t blockSamples = 1 << 16;

// One gain for the whole sound; none for a sound with nothing audible to measure.
double gainDbFor(const LoudnessControl& control, const LoudnessMeasure& before) {
    if (!control.targetLufs || !std::isfinite(before.integratedLufs))
        return 0;
    return *control.targetLufs - before.integratedLufs;
}

} // namespace

LoudnessPass::LoudnessPass(const ConversionRequest& request, Container container,
                           const std::filesystem::path& spoolFolder)
    : request_(request), container_(container),
      spool_(spoolFolder, request.output, soundFileKind(container)),
      meter_(request.format.sampleRate, request.format.channels == 2) {}

void LoudnessPass::add(std::span<const std::int16_t> samples) {
    spool_.write(samples);
    meter_.add(samples);
}

LoudnessReport LoudnessPass::replay(const Sink& write, const std::atomic<bool>* cancel) {
    const LoudnessMeasure before = meter_.measure();
    LoudnessReport report{.before = before,
                          .ceilingDbtp =
                              request_.loudness.truePeakDbtp.value_or(defaultTruePeakDbtp)};
    report.gainDb = gainDbFor(request_.loudness, before);
    const double threshold = limiterThresholdDb(request_, container_).value_or(0);
    std::optional<double> limiting;
    if (report.gainDb + before.truePeakDbtp > threshold) {
        limiting = threshold;
        if (std::isfinite(before.integratedLufs))
            report.gainDb = limitedGainDb(report.gainDb, threshold, cancel);
    }
    LoudnessMeter after(request_.format.sampleRate, request_.format.channels == 2);
    readBack(
        report.gainDb, limiting,
        [&](std::span<const std::int16_t> samples) {
            after.add(samples);
            write(samples);
        },
        &report, cancel);
    report.after = after.measure();
    return report;
}

// The limiter takes off some loudness with the peaks: the gain is raised until the limited
// sound, measured without writing it, is within closeEnoughLu of the target; each raise by
// the shortfall scaled by how much the last raise gave (a secant step), twice at most.
double LoudnessPass::limitedGainDb(double gainDb, double thresholdDb,
                                   const std::atomic<bool>* cancel) {
    const double target = *request_.loudness.targetLufs;
    double slope = 1.0; // LU the limited sound gains for each dB of gain
    double previousGain = 0;
    double previousLevel = 0;
    for (int round = 0; round < 2; ++round) {
        LoudnessMeter trial(request_.format.sampleRate, request_.format.channels == 2, false);
        readBack(
            gainDb, thresholdDb, [&](std::span<const std::int16_t> samples) { trial.add(samples); },
            nullptr, cancel);
        const double level = trial.measure().integratedLufs;
        if (!std::isfinite(level) || !(target - level > closeEnoughLu))
            break;
        if (round > 0 && gainDb != previousGain)
            slope = std::clamp((level - previousLevel) / (gainDb - previousGain), 0.25, 1.0);
        previousGain = gainDb;
        previousLevel = level;
        gainDb += (target - level) / slope;
    }
    return gainDb;
}

void LoudnessPass::readBack(double gainDb, std::optional<double> thresholdDb, const Sink& sink,
                            LoudnessReport* report, const std::atomic<bool>* cancel) {
    const double gain = gainOfDecibels(gainDb);
    std::optional<TruePeakLimiter> limiter;
    if (thresholdDb)
        limiter.emplace(gain, gainOfDecibels(*thresholdDb), request_.format.sampleRate);
    std::vector<std::int16_t> block(blockSamples);
    std::vector<std::int16_t> limited;
    for (std::uint64_t from = 0;;) {
        throwIfCancelled(cancel, request_);
        const std::size_t count = spool_.read(from, block);
        if (count == 0)
            break;
        from += count;
        const std::span<std::int16_t> samples(block.data(), count);
        if (limiter) {
            limited.clear();
            limiter->add(samples, limited);
            sink(limited);
        } else {
            if (gain != 1.0)
                applyGain(samples, gain); // below the ceiling: nothing clips
            sink(samples);
        }
    }
    if (!limiter)
        return;
    limited.clear();
    limiter->finish(limited);
    sink(limited);
    if (report) {
        report->limitedSamples = limiter->limitedSamples();
        report->limitedStretches = limiter->limitedStretches();
    }
}

std::optional<double> limiterThresholdDb(const ConversionRequest& request, Container container) {
    const double ceiling = request.loudness.truePeakDbtp.value_or(defaultTruePeakDbtp);
    if (request.loudness.changesLevel())
        return ceiling - limiterHeadroomDb(container);
    if (isLossy(container))
        return ceiling;
    return std::nullopt;
}

} // namespace kestrova::speech
