#pragma once

#include "speech/speech_timings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::speech {

// What a reader takes in at a glance: two lines of 42 characters.
inline constexpr std::size_t subtitleLineCharacters = 42;
inline constexpr std::size_t subtitleCueLines = 2;

// Where a voice begins to speak in a line of a cue: from byte at of the line to where the
// next begins or the line ends, white space at its end not included.
struct CueVoice {
    std::size_t at = 0;
    std::string voice; // the voice's id, as the timings name it

    bool operator==(const CueVoice&) const = default;
};

struct SubtitleCue {
    std::vector<std::string> lines; // valid UTF-8, each at most subtitleLineCharacters
    // For a sentence whose timings give its parts, the voices of each line, the first at 0;
    // empty for any other.
    std::vector<std::vector<CueVoice>> voices;
    std::uint64_t startFrame = 0;
    std::uint64_t endFrame = 0; // one past the last sample
};

// The cues of the sentences in speaking order: one for a sentence that fits, several of
// about equal length, split between words, for one that does not, its time shared in
// proportion to their characters. A sentence without text gets none. Control characters
// are spaces and bytes that are not UTF-8 become U+FFFD, so that the cues are clean text.
// A cue of a sentence with parts says which voice speaks each of its words.
std::vector<SubtitleCue> subtitleCues(const SpeechTimings& timings);

} // namespace kestrova::speech
