#pragma once

#include "speech/audio_format.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace kestrova::speech {

// How much a lossy encoder changes the integrated loudness of a sound, in LU: the samples
// encoded as the output will be, into an unnamed file in memory, decoded by libsndfile, and
// both measured. LAME at a constant bit rate gives speech back 0.3 LU (192 kb/s) to 0.5 LU
// (128 kb/s) softer, whatever the voice or the level; Opus some tenths, by the voice. 0 for
// a container libsndfile does not write, and for a sound with nothing audible. A failure
// names output, the file the encoding is for.
double encodedLoudnessChangeLu(const std::filesystem::path& output, Container container,
                               AudioFormat format, std::optional<int> constantBitrateKbps,
                               std::span<const std::int16_t> samples);

} // namespace kestrova::speech
