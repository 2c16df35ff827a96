#pragma once

#include "speech/audio_format.h"
#include "speech/sound_tags.h"

#include <filesystem>
#include <sndfile.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::speech {

// The tags as libsndfile's string types and the text each is given, settled before the file
// is opened: AU writes its header, into a stream perhaps, as it opens. Throws FileError
// naming shownAs when the container cannot hold tags, or an MP3 tag has characters outside
// Latin-1 (LAME's tags are Latin-1 only). An MP3 file is given none here: its tags go in
// through TagLib once it is complete (embedded_tags.h); an MP3 stream gets LAME's.
using SoundTagStrings = std::vector<std::pair<int, std::string>>;
SoundTagStrings soundTagStrings(Container container, const SoundTags& tags,
                                const std::filesystem::path& shownAs);

// Gives a sound file just opened for writing its tags, through libsndfile's string API,
// before the first sample: FLAC, Ogg and MP3 write their tags into the header.
void writeSoundTags(SNDFILE* file, const SoundTagStrings& strings,
                    const std::filesystem::path& shownAs, std::string_view fileKind);

} // namespace kestrova::speech
