// The true-peak limiter against libebur128's meter: peaks held under the ceiling, inter-sample
// ones included; nothing changed where nothing passes it; the same output however the samples
// come in.

#include "speech/audio/processing/loudness_meter.h"
#include "speech/audio/processing/true_peak_limiter.h"
#include "speech/conversion/loudness/limiter_pieces.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace kestrova::speech {
namespace {

constexpr int rate = 22050;

// Bursts of a tone at a quarter of the rate, phased so that its peaks fall between samples
// (3 dB above them), among silences.
std::vector<std::int16_t> bursts(double amplitude) {
    std::vector<std::int16_t> samples;
    for (int burst = 0; burst < 6; ++burst) {
        for (int i = 0; i < rate / 4; ++i)
            samples.push_back(static_cast<std::int16_t>(std::lround(
                amplitude * std::sin(std::numbers::pi / 2 * i + std::numbers::pi / 4))));
        samples.insert(samples.end(), rate, 0); // longer than the release
    }
    return samples;
}

std::vector<std::int16_t> limited(TruePeakLimiter& limiter, const std::vector<std::int16_t>& in,
                                  std::size_t block) {
    std::vector<std::int16_t> out;
    for (std::size_t at = 0; at < in.size(); at += block)
        limiter.add(std::span(in).subspan(at, std::min(block, in.size() - at)), out);
    limiter.finish(out);
    return out;
}

double truePeakDb(const std::vector<std::int16_t>& samples) {
    LoudnessMeter meter(rate, false);
    meter.add(samples);
    return meter.measure().truePeakDbtp;
}

TEST(TruePeakLimiter, HoldsInterSamplePeaksUnderTheCeiling) {
    const std::vector<std::int16_t> in = bursts(16000); // samples at -6 dBFS, peaks at -3
    const double ceiling = -6.0;
    TruePeakLimiter limiter(gainOfDecibels(4.0), gainOfDecibels(ceiling), rate);
    const std::vector<std::int16_t> out = limited(limiter, in, 4096);
    ASSERT_EQ(out.size(), in.size());
    EXPECT_LE(truePeakDb(out), ceiling);
    EXPECT_GT(truePeakDb(out), ceiling - 0.5); // held at it, not far below
    EXPECT_EQ(limiter.limitedStretches(), 6u);
    EXPECT_LT(limiter.limitedSamples(), in.size());

    TruePeakLimiter again(gainOfDecibels(4.0), gainOfDecibels(ceiling), rate);
    EXPECT_EQ(limited(again, in, 777), out);
}

TEST(TruePeakLimiter, ChangesNothingBelowTheCeiling) {
    const std::vector<std::int16_t> in = bursts(8000); // peaks at -9 dBFS
    TruePeakLimiter limiter(1.0, gainOfDecibels(-1.0), rate);
    EXPECT_EQ(limited(limiter, in, 1000), in);
    EXPECT_EQ(limiter.limitedSamples(), 0u);
}

// Limiters started afresh on the pieces give the samples of one over the whole sound. The
// bursts need deep reductions; the quiet noise between them is left alone, in gaps shorter
// than the release mostly (no cut may fall there: the release would still be lowering the
// noise) and now and then longer.
TEST(TruePeakLimiter, PiecesCutWhereItRestsGiveTheWholeSoundsSamples) {
    std::vector<std::int16_t> in;
    std::vector<std::int32_t> loudest;
    const std::size_t segment = rate / 10;
    for (int burst = 0; in.size() < static_cast<std::size_t>(70 * rate); ++burst) {
        for (int i = 0; i < rate / 4; ++i)
            in.push_back(static_cast<std::int16_t>(
                std::lround(16000 * std::sin(std::numbers::pi / 2 * i + std::numbers::pi / 4))));
        const int gap = burst % 4 == 3 ? rate * 12 / 10 : rate * 6 / 10;
        for (int i = 0; i < gap; ++i)
            in.push_back(static_cast<std::int16_t>((i * 7919) % 2001 - 1000));
    }
    for (std::size_t at = 0; at + segment <= in.size(); at += segment)
        loudest.push_back(
            *std::max_element(in.begin() + static_cast<std::ptrdiff_t>(at),
                              in.begin() + static_cast<std::ptrdiff_t>(at + segment),
                              [](int a, int b) { return std::abs(a) < std::abs(b); }));
    for (std::int32_t& sample : loudest)
        sample = std::abs(sample);
    const double gain = gainOfDecibels(4.0);
    const double ceiling = gainOfDecibels(-6.0);
    TruePeakLimiter whole(gain, ceiling, rate);
    const std::vector<std::int16_t> expected = limited(whole, in, 4096);

    const std::vector<SampleRange> pieces =
        limiterPieces(loudest, segment, in.size(), gain, ceiling, rate);
    ASSERT_GE(pieces.size(), 3u);
    std::vector<std::int16_t> joined;
    std::uint64_t limitedSamples = 0;
    for (const SampleRange& piece : pieces) {
        TruePeakLimiter part(gain, ceiling, rate);
        const std::vector<std::int16_t> out =
            limited(part,
                    {in.begin() + static_cast<std::ptrdiff_t>(piece.from),
                     in.begin() + static_cast<std::ptrdiff_t>(piece.to)},
                    4096);
        joined.insert(joined.end(), out.begin(), out.end());
        limitedSamples += part.limitedSamples();
    }
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(limitedSamples, whole.limitedSamples());
}

// Its own meter, which looks between samples only near the loudest, finds the peaks between
// them as libebur128 does, the last sample's included, however the samples come in.
TEST(TruePeakMeter, FindsPeaksBetweenSamplesAsLibebur128Does) {
    std::vector<std::int16_t> in = bursts(16000);
    in.push_back(-30000); // the loudest sample last: counted only once the zeros after it are
    for (const std::size_t block : {std::size_t{1}, std::size_t{100}, in.size()}) {
        TruePeakMeter meter;
        for (std::size_t at = 0; at < in.size(); at += block)
            meter.add(std::span(in).subspan(at, std::min(block, in.size() - at)));
        EXPECT_NEAR(decibelsOfGain(meter.finishedPeak() / 32768.0), truePeakDb(in), 0.2);
    }
    in.pop_back();
    TruePeakMeter meter;
    meter.add(in);
    EXPECT_NEAR(decibelsOfGain(meter.finishedPeak() / 32768.0), truePeakDb(in), 0.2);
    const auto loudest = std::ranges::max(in, {}, [](std::int16_t x) { return std::abs(x); });
    EXPECT_GT(meter.finishedPeak(), 1.4 * loudest); // between samples, 3 dB above them
}

} // namespace
} // namespace kestrova::speech
