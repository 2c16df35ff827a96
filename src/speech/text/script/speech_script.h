#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrova::speech {

// Prosody relative to the voice's own, as fractions: 1 changes nothing.
struct Prosody {
    double rate = 1.0;
    double pitch = 1.0;
    double volume = 1.0;

    friend bool operator==(const Prosody&, const Prosody&) = default;
};

// A stretch of text spoken with one voice and one prosody. voiceName is any name the voice
// registry accepts; empty: the conversion's own voice. language: the BCP 47 tag the markup
// gives the text ("de-AT"), read by a voice of that language when voiceName's does not speak
// it; empty: none given. spaceBefore: white space parts it from the run before (markup
// inside a word, "im<emphasis>port</emphasis>ant", leaves none).
struct SpeechRun {
    std::string text;
    std::string voiceName;
    Prosody prosody;
    std::string language;
    bool spaceBefore = false;
};

// A pause between runs. Sentence and paragraph ends take the conversion's pause settings (or
// the engine's own pause where none is set); an explicit break lasts milliseconds.
struct SpeechBreak {
    enum class Kind { Sentence, Paragraph, Explicit };
    Kind kind = Kind::Explicit;
    int milliseconds = 0; // Explicit only
    // Explicit only: the sentence or paragraph end the pause stands at, whose own pause it
    // replaces; none inside a sentence.
    std::optional<Kind> ends;
};

// A named point in the speech, reported with its sample position in the timings.
struct SpeechMark {
    std::string name;
};

using SpeechItem = std::variant<SpeechRun, SpeechBreak, SpeechMark>;

// What markup and plain text with options become before chunking: runs of text separated by
// breaks, with marks between them, in speaking order. A deque: it grows without copying
// itself, so that a long script never stands in memory twice.
using SpeechScript = std::deque<SpeechItem>;

} // namespace kestrova::speech
