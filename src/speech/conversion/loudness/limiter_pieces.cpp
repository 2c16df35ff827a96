#include "speech/conversion/loudness/limiter_pieces.h"

#include "speech/audio/processing/true_peak_limiter.h"

namespace kestrova::speech {

std::vector<SampleRange> limiterPieces(std::span<const std::int32_t> loudest,
                                       std::size_t segmentSamples, std::uint64_t samples,
                                       double gain, double ceiling, int sampleRate) {
    const std::size_t quietBefore =
        (TruePeakLimiter::restsAfter(sampleRate) + segmentSamples - 1) / segmentSamples;
    const std::size_t shortest = static_cast<std::size_t>(shortestPieceSeconds) *
                                 static_cast<std::size_t>(sampleRate) / segmentSamples;
    std::vector<SampleRange> pieces;
    std::size_t quietRun = 0; // segments left alone, up to the one looked at
    std::size_t pieceStart = 0;
    for (std::size_t segment = 0; segment < loudest.size(); ++segment) {
        const bool alone = TruePeakLimiter::leavesAlone(gain, ceiling, loudest[segment]);
        // A cut before this segment: the run before it long enough, this one left alone too.
        if (alone && quietRun >= quietBefore && segment - pieceStart >= shortest) {
            pieces.push_back({.from = pieceStart * std::uint64_t{segmentSamples},
                              .to = segment * std::uint64_t{segmentSamples}});
            pieceStart = segment;
        }
        quietRun = alone ? quietRun + 1 : 0;
    }
    pieces.push_back({.from = pieceStart * std::uint64_t{segmentSamples}, .to = samples});
    return pieces;
}

} // namespace kestrova::speech
