#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// Chapters start at headings, one-line paragraphs that a PCRE2 pattern matches; this one takes
// lines beginning with the words books in English use for them, or a Markdown heading.
inline constexpr std::string_view defaultChapterPattern =
    R"(^(?:Chapter|CHAPTER|Part|Book|Prologue|Epilogue)\b|^#)";

// A part of a sentence read by a voice of its own: from byte offset of the sentence's text on.
struct SentencePart {
    std::size_t offset = 0;
    std::string text;
    std::string voice; // the voice's id, as -e names it

    bool operator==(const SentencePart&) const = default;
};

// Where one sentence of the text lands in the sound, exact to the sample.
struct SentenceTiming {
    std::string text; // as read: white space single, the lexicon not applied
    // Bytes [startByte, endByte) of the input file that hold the sentence; none for markup,
    // whose text has no single place in the file.
    std::optional<std::uint64_t> startByte;
    std::optional<std::uint64_t> endByte;
    unsigned paragraph = 1; // counted from 1
    unsigned chapter = 0;   // 0 before the first heading, then counted from 1
    // The first and last sample of the sentence's speech (its first and last audible sample);
    // a sentence with no audible sound gets the place where it stands, first == last.
    std::uint64_t firstFrame = 0;
    std::uint64_t lastFrame = 0;
    // The file those bytes are in, for a structured document (the file inside an EPUB, or the
    // input); empty: the input itself, named nowhere (plain text).
    std::string source;
    // The label of the page the sentence begins on, for a document of pages (a PDF); empty:
    // none, and the timings name none.
    std::string page;
    // Where the sentence has more than one voice, or the dialogue voice reads it all, each
    // voice's part in order; empty: the narrating voice reads it all.
    std::vector<SentencePart> parts = {};
};

// A chapter: from its heading to the next heading or the end of the speech. The one form a
// chapter has, from the reading through the timings to every file that holds chapters: each
// writer takes the fields it needs and says which.
struct ChapterTiming {
    unsigned number = 0;            // 0: the text before the first heading
    std::string title;              // the heading as read; for chapter 0, empty
    std::uint64_t startFrame = 0;   // where its sound begins: a file cut here loses nothing
    std::uint64_t headingFrame = 0; // the first sample of the heading's speech
    std::uint64_t endFrame = 0;     // one past its last sample
};

struct MarkTiming {
    std::string name;
    std::uint64_t frame = 0;
};

// Everything a reader needs to follow the sound with the text: sentences in speaking order,
// the chapters (empty when none were asked for) and the marks of markup.
struct SpeechTimings {
    int sampleRate = 0;
    std::uint64_t frames = 0;
    std::vector<SentenceTiming> sentences;
    std::vector<ChapterTiming> chapters;
    std::vector<MarkTiming> marks;

    double seconds(std::uint64_t frame) const {
        return sampleRate > 0 ? static_cast<double>(frame) / sampleRate : 0.0;
    }
};

} // namespace kestrova::speech
