#pragma once

#include "speech/audio_format.h"
#include "speech/sound_tags.h"
#include "speech/speech_timings.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// What the tags and chapters of each container can hold. Past a limit a tag, a cover or a
// chapter would be written wrapped or cut inside a character, and readers would take the file
// for broken or read the wrong thing: what does not fit is cut at a character boundary or left
// out, and a warning says so.

// A FLAC metadata block counts its bytes in 24 bits.
inline constexpr std::size_t flacBlockBytes = (std::size_t{1} << 24) - 1;

// The Nero chapter list of an MP4 file counts its chapters in a byte and each title's bytes in
// another; its chapter track holds every chapter, with the same titles.
inline constexpr std::size_t mp4ListedChapters = 255;
inline constexpr std::size_t mp4ChapterTitleBytes = 255;

// An ID3v2 table of contents counts its entries in a byte: past that many chapters, a top
// table lists tables of that many each.
inline constexpr std::size_t id3TableEntries = 255;

// The most bytes a cover of this media type can have in the container; none where no cover a
// conversion takes reaches the container's limit.
std::optional<std::size_t> largestCoverBytes(Container container, std::string_view mediaType);

// The most bytes of the text tags together; none: no limit tags reach.
std::optional<std::size_t> largestTagsBytes(Container container);

// The most bytes of one chapter's title; none: no limit a title reaches.
std::optional<std::size_t> largestChapterTitleBytes(Container container);

// The most chapters the container's readers find; none: no limit a book reaches.
std::optional<std::size_t> mostChapters(Container container);

// text cut at a character boundary to at most bytes; true when it was cut.
bool cutToCharacters(std::string& text, std::size_t bytes);

// The chapters the container's readers find, each title cut at a character boundary to what
// the container holds. The chapters past what its readers find are left out, and warning (when
// set) told so once; an M4B file keeps every one, telling warning which are past its Nero
// list. warning is told once, too, how many titles were cut.
void fitChapters(Container container, std::vector<ChapterTiming>& chapters,
                 const std::filesystem::path& shownAs,
                 const std::function<void(const std::string&)>& warning);

// The tags as the container can hold them: a cover too large left out; text tags longer than
// their share of what the container holds cut, at a character boundary, the shorter ones kept
// whole. warning (when set) is told once of each, naming shownAs.
SoundTags tagsFittedTo(Container container, SoundTags tags, const std::filesystem::path& shownAs,
                       const std::function<void(const std::string&)>& warning);

} // namespace kestrova::speech
