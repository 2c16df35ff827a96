#pragma once

#include "speech/converter.h"

#include <cstdint>

namespace kestrova::cli {

// "OUT: 12.3 s of 22050 Hz 16-bit mono, voice NAME", and the samples the volume limited, if
// any; a container that has not the rate asked for says so.
void summarize(const speech::ConversionRequest& request, double seconds,
               std::uint64_t limitedSamples);

// "5 chapters", and with split chapters each file's name.
void summarizeChapters(const speech::ConversionResult& result);

} // namespace kestrova::cli
