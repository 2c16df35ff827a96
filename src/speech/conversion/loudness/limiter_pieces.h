#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrova::speech {

// Samples of a sound, from and up to (not including) these.
struct SampleRange {
    std::uint64_t from = 0;
    std::uint64_t to = UINT64_MAX;
};

// The sound cut into pieces that true-peak limiters can work on side by side, each started
// afresh, giving the very samples one limiter over the whole sound gives. A cut is made only
// at the start of a segment where the one limiter is at rest: the segments before it, for
// as long as TruePeakLimiter::restsAfter says, and the one after it are left alone by the
// limiter. Each piece but the last is at least shortestPieceSeconds long; a sound with no
// such place is one piece. loudest: the loudest sample of each whole segment of
// segmentSamples; samples: the sound's length.
std::vector<SampleRange> limiterPieces(std::span<const std::int32_t> loudest,
                                       std::size_t segmentSamples, std::uint64_t samples,
                                       double gain, double ceiling, int sampleRate);

inline constexpr int shortestPieceSeconds = 20;

} // namespace kestrova::speech
