#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::speech {

// One piece of text handed to an engine in one call.
struct TextChunk {
    std::string text;           // single-spaced, trimmed, never empty
    std::uint64_t endCharacter; // characters of the whole text up to this chunk's end
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
    void cut(std::size_t end, std::size_t resume);
    std::size_t limitCut() const;

    std::size_t targetBytes_;
    std::size_t limitBytes_;
    std::string pending_;         // text not yet cut off, from the current chunk's start
    std::size_t scanned_ = 0;     // bytes of pending_ examined so far
    std::size_t sentenceEnd_ = 0; // the last sentence end seen inside the current chunk
    std::uint64_t characters_ = 0;
    bool finished_ = false;
    std::optional<TextChunk> ready_;
    std::string spare_;
};

} // namespace kestrova::speech
