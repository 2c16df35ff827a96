#pragma once

#include "speech/converter.h"

#include <cstdint>
#include <optional>

namespace kestrova::cli {

// "OUT: 12.3 s of 22050 Hz 16-bit mono, voice NAME", and the samples the volume limited, if
// any; a container that has not the rate asked for says so. With the loudness asked for or
// measured, a second line of it; the true-peak limiter's work, whenever it did any.
void summarize(const speech::ConversionRequest& request, double seconds,
               std::uint64_t limitedSamples,
               const std::optional<speech::LoudnessReport>& loudness = std::nullopt);

// "5 chapters", and with split chapters each file's name.
void summarizeChapters(const speech::ConversionResult& result);
// "resumed: N of M chunks kept from an earlier run", when any was.
void summarizeResumed(const speech::ConversionResult& result);

} // namespace kestrova::cli
