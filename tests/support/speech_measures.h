#pragma once

// Measures of rendered speech as a listener hears it: how long it talks, and at what pitch.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace kestrova::test {

namespace detail {

inline double frameRms(std::span<const std::int16_t> frame) {
    double energy = 0;
    for (std::int16_t sample : frame)
        energy += static_cast<double>(sample) * sample;
    return frame.empty() ? 0 : std::sqrt(energy / static_cast<double>(frame.size())) / 32768.0;
}

inline double decibels(double level) {
    return 20 * std::log10(std::max(level, 1e-12));
}

} // namespace detail

// The time in seconds during which the samples are sounding: 10 ms frames whose level is
// above -50 dBFS. Pauses between words and sentences are not counted.
inline double soundingSeconds(std::span<const std::int16_t> samples, int sampleRate) {
    const std::size_t frameLength = static_cast<std::size_t>(sampleRate / 100);
    std::size_t sounding = 0;
    for (std::size_t start = 0; start + frameLength <= samples.size(); start += frameLength)
        if (detail::decibels(detail::frameRms(samples.subspan(start, frameLength))) > -50)
            ++sounding;
    return static_cast<double>(sounding) / 100.0;
}

// The time in seconds from the first sample above -50 dBFS to the last: how long a listener
// waits for the text to be spoken.
inline double speakingSeconds(std::span<const std::int16_t> samples, int sampleRate) {
    const auto audible = [](std::int16_t sample) {
        return std::abs(sample) >= 104;
    };
    const auto first = std::find_if(samples.begin(), samples.end(), audible);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), audible).base();
    return first < last ? static_cast<double>(last - first) / sampleRate : 0;
}

// The level of the whole sound, in dB of full scale.
inline double rmsDecibels(std::span<const std::int16_t> samples) {
    return detail::decibels(detail::frameRms(samples));
}

// The lengths, in milliseconds, of the silences inside the sound (no sample above -50 dBFS)
// that last at least minimumMs; the silence before the first sound and after the last is
// left out.
inline std::vector<double> innerSilencesMs(std::span<const std::int16_t> samples, int sampleRate,
                                           double minimumMs) {
    std::vector<double> found;
    bool sounded = false;
    std::size_t lastSound = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) < 104)
            continue;
        const double ms = 1000.0 * static_cast<double>(i - lastSound - 1) / sampleRate;
        if (sounded && ms >= minimumMs)
            found.push_back(ms);
        sounded = true;
        lastSound = i;
    }
    return found;
}

// The fundamental frequency of each voiced 40 ms frame (10 ms apart), by normalized
// autocorrelation: a frame is voiced when it is well above silence and its best
// correlation at a lag between 1/400 s and 1/60 s exceeds 0.5.
std::vector<double> voicedFrequencies(std::span<const std::int16_t> samples, int sampleRate);

inline double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

inline double medianFrequency(std::span<const std::int16_t> samples, int sampleRate) {
    return median(voicedFrequencies(samples, sampleRate));
}

} // namespace kestrova::test
