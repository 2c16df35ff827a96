#pragma once

#include "speech/audio_format.h"
#include "speech/sound_tags.h"

#include <filesystem>
#include <sndfile.h>

namespace kestrova::speech {

// Gives a sound file just opened for writing its tags, through libsndfile's string API. It
// must come before the first sample: FLAC, Ogg and MP3 write their tags into the header.
// Throws FileError naming shownAs when the container cannot hold tags, or an MP3 tag has
// characters outside Latin-1 (LAME's tags are Latin-1 only).
void writeSoundTags(SNDFILE* file, Container container, const SoundTags& tags,
                    const std::filesystem::path& shownAs);

} // namespace kestrova::speech
