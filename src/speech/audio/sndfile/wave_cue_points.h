#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace kestrova::speech {

// A named place in a sound: a chapter a player can jump to.
struct CuePoint {
    std::string name; // UTF-8; empty: a cue point without a label
    std::uint64_t frame = 0;
};

// Gives the plain RIFF wave file libsndfile finished in fd its cue points: a "cue " chunk and
// a LIST/adtl chunk with a "labl" for each name, after everything libsndfile wrote, the RIFF
// size grown to match. libsndfile takes cue points only before the first sample (and never
// writes their names), while a chapter's place is known only once its sound is written; it
// reads both chunks back wherever they stand. fd needs no read access. Nothing for a
// descriptor that is no regular file (a device, a pipe). A name longer than a reader keeps
// (255 bytes) is cut at a character boundary. Throws FileError naming shownAs when the file
// cannot be written or the chunks would not fit in it.
void appendWaveCuePoints(int fd, std::span<const CuePoint> points,
                         const std::filesystem::path& shownAs);

} // namespace kestrova::speech
