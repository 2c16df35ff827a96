// Passes pure tones through the converter's own resampler and prints, per tone, the gain of
// the tone and the level of everything else in the output (aliases, images, rounding), in
// dB relative to a full-scale sine. Lines: "FREQUENCY GAIN_DB OTHER_DBFS"; GAIN_DB is "-" for
// a tone above the output's Nyquist frequency, all of whose output counts as alias.
#include "speech/audio/processing/resampler.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

constexpr double amplitude = 0.5 * 32767;
constexpr double fullScaleRms = 32767 / std::numbers::sqrt2;

void measure(int inputRate, int outputRate, double frequency) {
    std::vector<std::int16_t> input(static_cast<std::size_t>(inputRate) * 2);
    for (std::size_t n = 0; n < input.size(); ++n)
        input[n] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency *
                                             static_cast<double>(n) / inputRate)));
    kestrova::speech::Resampler resampler(inputRate, outputRate);
    std::vector<std::int16_t> output;
    for (const auto& part : {resampler.process(input), resampler.flush()})
        output.insert(output.end(), part.begin(), part.end());
    // The middle second, away from the filter's start and end.
    const std::size_t begin = output.size() / 4;
    const std::size_t end = begin + static_cast<std::size_t>(outputRate);
    const bool passes = frequency < outputRate / 2.0;
    // The tone's own share, by least squares on a sine and a cosine of its frequency.
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (std::size_t n = begin; n < end; ++n) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(n) / outputRate;
        const double s = passes ? std::sin(phase) : 0, c = passes ? std::cos(phase) : 0;
        ss += s * s, cc += c * c, sc += s * c, ys += output[n] * s, yc += output[n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = passes ? (ys * cc - yc * sc) / det : 0;
    const double b = passes ? (yc * ss - ys * sc) / det : 0;
    double rest = 0;
    for (std::size_t n = begin; n < end; ++n) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(n) / outputRate;
        const double e = output[n] - a * std::sin(phase) - b * std::cos(phase);
        rest += e * e;
    }
    const double restDb =
        20 * std::log10(std::sqrt(rest / static_cast<double>(end - begin)) / fullScaleRms + 1e-12);
    if (passes)
        std::printf("%.0f %.4f %.1f\n", frequency, 20 * std::log10(std::hypot(a, b) / amplitude),
                    restDb);
    else
        std::printf("%.0f - %.1f\n", frequency, restDb);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: resampling_check INPUT_RATE OUTPUT_RATE\n");
        return 2;
    }
    const int inputRate = std::atoi(argv[1]);
    const int outputRate = std::atoi(argv[2]);
    for (double frequency = 100; frequency < inputRate / 2.0; frequency += 100)
        if (std::abs(frequency - outputRate / 2.0) >= 100)
            measure(inputRate, outputRate, frequency);
    return 0;
}
