#pragma once

#include "speech/audio_format.h"
#include "speech/sound_tags.h"
#include "speech/speech_timings.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace kestrova::speech {

// Whether a complete file of the container is edited through TagLib to carry these: where
// its row's tagLibEdits take one of them. MP3 takes all three (ID3v2.4), a wave file tags and
// a cover (an ID3 chunk beside INFO), FLAC, Ogg Vorbis and Opus chapters and a cover (their
// comments, which libsndfile writes, hold the text tags already). The rest are left as their
// writers wrote them.
bool editedThroughTagLibrary(Container container, const SoundTags& tags, bool hasChapters);

// Edits the complete file open in fd (for reading and writing) in place: the tags, the cover
// and the chapters, each where editedThroughTagLibrary says. Each chapter is a place a player
// can jump to, from its startFrame to its endFrame (frames of the sound, written in
// milliseconds at sampleRate; a Vorbis comment holds the start alone), named by its title
// (UTF-8; empty: a chapter without a name); its number and headingFrame are not used. A plain
// wave file beyond 4 GiB (RF64) keeps its INFO chunk only. Throws FileError naming shownAs when the
// file cannot be read or written (ConversionCancelled when cancel is set meanwhile).
void writeEmbeddedTags(int fd, Container container, const SoundTags& tags,
                       std::span<const ChapterTiming> chapters, int sampleRate,
                       const std::filesystem::path& shownAs, const std::atomic<bool>* cancel);

// "01:02:03.456": a time in milliseconds as a Vorbis comment's chapter names it.
std::string chapterTimeText(std::uint64_t milliseconds);

} // namespace kestrova::speech
