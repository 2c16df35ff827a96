#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova::speech {

// U+FFFD, which stands for bytes that are not UTF-8.
inline constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// A byte that continues a UTF-8 character rather than starting one.
inline bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length a lead byte announces, read from it alone: 1 for ASCII and for bytes that lead
// nothing. For text already known to be UTF-8.
inline std::size_t announcedLength(char lead) {
    const auto byte = static_cast<unsigned char>(lead);
    return byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
}

// The length of the valid UTF-8 sequence at the start of text, 1 for ASCII, 0 if there is
// none (a stray continuation byte, an overlong form, a surrogate, a cut sequence, a byte
// never in UTF-8).
std::size_t utf8SequenceLength(std::string_view text);

// The code point of the valid UTF-8 sequence at the start of text and its length in bytes;
// a negative code point and length 1 where the bytes are not valid UTF-8.
struct CodePoint {
    int value;
    std::size_t length;
};
CodePoint codePointAt(std::string_view text);

// Appends the character at the start of text to out if it is valid UTF-8, else replacement
// for its first byte. Returns the bytes of text passed (at least 1; text is not empty).
std::size_t appendCharacterOrReplacement(std::string_view text, std::string& out,
                                         std::string_view replacement = replacementCharacter);

// The characters of UTF-8 text: its bytes that are not continuation bytes.
std::size_t characterCount(std::string_view text);

// The greatest length of at most bytes that ends text at the end of a character, no shorter
// than shortest.
std::size_t characterCut(std::string_view text, std::size_t bytes, std::size_t shortest = 0);

// A code point's UTF-8 bytes; a surrogate or a value past U+10FFFF has none.
std::string encodeUtf8(char32_t value);

} // namespace kestrova::speech
