#pragma once

#include <cstddef>
#include <cstdint>
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

// Splits a stream of UTF-8 text into chunks for the engines. Whole sentences and paragraphs
// are gathered until a chunk reaches its target size; a sentence longer than the limit is
// cut at a space, and a run without spaces at a character boundary. Inside a chunk white
// space is single, but a paragraph end (a blank line) stays a blank line. The cuts depend
// on the text alone, never on how it was fed in.
class TextChunker {
public:
    static constexpr std::size_t defaultTargetBytes = 1200;
    static constexpr std::size_t defaultLimitBytes = 4000;

    explicit TextChunker(std::size_t targetBytes = defaultTargetBytes,
                         std::size_t limitBytes = defaultLimitBytes);

    void push(std::string_view text);
    void finish();
    // The next complete chunk, if there is one.
    std::optional<TextChunk> next();

private:
    bool scan();
    void cut(std::size_t end, std::size_t resume, Boundary at);
    std::size_t limitCut() const;

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
};

} // namespace kestrova::speech
