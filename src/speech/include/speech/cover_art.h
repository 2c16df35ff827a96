#pragma once

#include "speech/sound_tags.h"

#include <cstddef>
#include <filesystem>

namespace kestrova::speech {

// The largest cover a sound file is given: a FLAC picture block counts its length in 24 bits
// (under 16 MiB), and an Ogg comment carries the picture a third larger again.
inline constexpr std::size_t maximumCoverBytes = 8u << 20;

// The picture in the file at path, JPEG or PNG as its first bytes say (not its name). Throws
// FileError naming the file when it cannot be read, is no JPEG or PNG, or is larger than
// maximumCoverBytes.
CoverArt readCoverArt(const std::filesystem::path& path);

} // namespace kestrova::speech
