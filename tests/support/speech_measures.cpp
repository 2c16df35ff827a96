#include "speech_measures.h"

namespace kestrova::test {

std::vector<double> voicedFrequencies(std::span<const std::int16_t> samples, int sampleRate) {
    const std::size_t frameLength = static_cast<std::size_t>(sampleRate * 40 / 1000);
    const std::size_t hop = static_cast<std::size_t>(sampleRate / 100);
    const std::size_t shortestLag = static_cast<std::size_t>(sampleRate / 400);
    const std::size_t longestLag = static_cast<std::size_t>(sampleRate / 60);
    std::vector<double> frame(frameLength);
    std::vector<double> correlation(longestLag + 1);
    std::vector<double> found;
    for (std::size_t start = 0; start + frameLength <= samples.size(); start += hop) {
        const auto window = samples.subspan(start, frameLength);
        if (detail::decibels(detail::frameRms(window)) < -35)
            continue;
        double mean = 0;
        for (std::size_t i = 0; i < frameLength; ++i)
            mean += window[i];
        mean /= static_cast<double>(frameLength);
        for (std::size_t i = 0; i < frameLength; ++i)
            frame[i] = window[i] - mean;
        double best = 0;
        for (std::size_t lag = shortestLag; lag <= longestLag; ++lag) {
            double product = 0, head = 0, tail = 0;
            for (std::size_t i = 0; i + lag < frameLength; ++i) {
                product += frame[i] * frame[i + lag];
                head += frame[i] * frame[i];
                tail += frame[i + lag] * frame[i + lag];
            }
            correlation[lag] = head > 0 && tail > 0 ? product / std::sqrt(head * tail) : 0;
            best = std::max(best, correlation[lag]);
        }
        if (best <= 0.5)
            continue;
        // The shortest lag nearly as good as the best: a multiple of the period correlates
        // as well as the period itself, and would read as an octave too low.
        for (std::size_t lag = shortestLag + 1; lag < longestLag; ++lag) {
            if (correlation[lag] >= 0.9 * best && correlation[lag] >= correlation[lag - 1] &&
                correlation[lag] >= correlation[lag + 1]) {
                found.push_back(static_cast<double>(sampleRate) / static_cast<double>(lag));
                break;
            }
        }
    }
    return found;
}

} // namespace kestrova::test
