#pragma once

#include "speech/speech_timings.h"

#include <filesystem>
#include <span>

namespace kestrova::speech {

// Gives the plain RIFF wave file libsndfile finished in fd a cue point for each chapter, a
// place a player can jump to: at its headingFrame, labelled with its title (an empty title: a
// cue point without a label); its other fields are not used. They go in a "cue " chunk and a
// LIST/adtl chunk with a "labl" for each title, after everything libsndfile wrote, the RIFF
// size grown to match. libsndfile takes cue points only before the first sample (and never
// writes their names), while a chapter's place is known only once its sound is written; it
// reads both chunks back wherever they stand. fd needs no read access. Nothing for a
// descriptor that is no regular file (a device, a pipe). A title longer than a reader keeps
// (255 bytes) is cut at a character boundary. Throws FileError naming shownAs when the file
// cannot be written or the chunks would not fit in it.
void appendWaveCuePoints(int fd, std::span<const ChapterTiming> chapters,
                         const std::filesystem::path& shownAs);

} // namespace kestrova::speech
