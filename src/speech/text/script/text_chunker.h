#pragma once

#include "speech/base/utf8.h"
#include "speech/text/script/unicode_breaks.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::speech {

// What separates a chunk from the text before it: nothing (the start of the text, or a
// sentence too long for one chunk cut at a space), a sentence end or a paragraph end.
enum class Boundary { None, Sentence, Paragraph };

// One piece of text handed to an engine in one call.
struct TextChunk {
    std::string text;           // single-spaced, trimmed, never empty
    std::uint64_t endCharacter; // characters of the whole text up to this chunk's end
    Boundary before = Boundary::None;
    // Bytes [startByte, endByte) of the text pushed that the chunk holds, from its first to
    // its last character other than white space.
    std::uint64_t startByte = 0;
    std::uint64_t endByte = 0;
};

// Text as a chunk holds it: every run of white space one space, or a blank line where the run
// holds a paragraph end (both engines pause longer there); none at the edges.
std::string singleSpaced(std::string_view text);

// Splits a stream of UTF-8 text into chunks for the engines. Whole sentences and paragraphs
// are gathered until a chunk reaches its target size; a sentence longer than the limit is
// cut at a space, and a run without spaces where a line may break (between the words of
// Chinese, Japanese or Thai), else between characters. Inside a chunk white space is single,
// but a paragraph end (a blank line) stays a blank line. The cuts depend on the text alone,
// never on how it was fed in.
//
// A sentence ends at . ! ? ; : (and closing quotes or brackets) followed by white space, as
// it always has, so "Dr. Smith" is two (no-break spaces alone before the next word bind it:
// "Dr.\u00A0Smith" is one); and, by Unicode's sentence rules in the language's
// conventions, at the marks of other scripts (。！？ । ؟ and the like), with or without a
// space after them, and at an ASCII mark directly followed by Chinese, Japanese or Thai.
class TextChunker {
public:
    static constexpr std::size_t defaultTargetBytes = 1200;
    static constexpr std::size_t defaultLimitBytes = 4000;

    // language: the voice's language code ("en-us", "cmn"), whose conventions the Unicode
    // rules follow; empty: Unicode's own.
    explicit TextChunker(std::size_t targetBytes = defaultTargetBytes,
                         std::size_t limitBytes = defaultLimitBytes, std::string language = {});
    ~TextChunker();
    TextChunker(TextChunker&&) noexcept;
    TextChunker& operator=(TextChunker&&) noexcept;

    void push(std::string_view text);
    void finish();
    // The next complete chunk, if there is one.
    std::optional<TextChunk> next();

private:
    // What the text says at a line break or mark: more text is needed to tell, or there is
    // no end there, or an end (the chunk would end at end, the next one begin at resume);
    // either way the scan goes on at next.
    struct Verdict {
        enum class Kind { Wait, NoEnd, End } kind;
        std::size_t next = 0;
        std::size_t end = 0;
        std::size_t resume = 0;
        Boundary at = Boundary::None;
    };

    bool scan();
    Verdict verdictAtScan();
    Verdict lineBreakVerdict() const;
    Verdict asciiMarkVerdict();
    Verdict noBreakSpaceVerdict(std::size_t after) const;
    Verdict otherCharacterVerdict();
    Verdict unicodeMarkVerdict(std::size_t mark);
    std::optional<bool> beforeUnspacedScript(std::size_t at) const;
    std::optional<CodePoint> characterAt(std::size_t at) const;
    bool limitCutWaits() const;
    std::size_t limitCut();
    void cut(std::size_t end, std::size_t resume, Boundary at);
    UnicodeBreaks& breaks();

    std::size_t targetBytes_;
    std::size_t limitBytes_;
    std::string pending_;         // text not yet cut off, from the current chunk's start
    std::size_t scanned_ = 0;     // bytes of pending_ examined so far
    std::size_t sentenceEnd_ = 0; // the last sentence end seen inside the current chunk
    Boundary sentenceEndKind_ = Boundary::None;
    Boundary nextBefore_ = Boundary::None; // what separates the next chunk from the last one
    std::uint64_t characters_ = 0;
    std::uint64_t consumedBytes_ = 0; // bytes pushed before pending_
    bool finished_ = false;
    std::optional<TextChunk> ready_;
    std::string spare_;
    std::string language_;
    std::unique_ptr<UnicodeBreaks> breaks_; // made when first needed
};

} // namespace kestrova::speech
