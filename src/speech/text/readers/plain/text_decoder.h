#pragma once

#include "speech/base/iconv_converter.h"
#include "speech/text_encoding.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova::speech {

// The names an encoding goes by: in messages, to iconv, and to libxml2 (none: the parser
// detects it).
struct EncodingNames {
    const char* shown;
    const char* iconv;
    const char* parser;
};
const EncodingNames& namesOf(TextEncoding encoding);
const char* encodingName(TextEncoding encoding);

// Chooses the encoding of a text from its first bytes (a byte order mark of UTF-8, UTF-16
// or UTF-32, or the zero bytes of UTF-16 without one). Automatic means: no mark; valid UTF-8 or
// else Windows-1252.
TextEncoding encodingFromStart(std::string_view firstBytes);
std::size_t byteOrderMarkLength(std::string_view firstBytes);

// Turns bytes of a known encoding into clean UTF-8, piece by piece. It never fails on its
// input: a sequence that cannot be decoded becomes U+FFFD, NUL and the other control
// characters become spaces (line feeds stay, for paragraph ends), and a sequence cut off
// at the end of the input is dropped (the text is then not clean: a truncated file is no
// valid UTF-8).
class TextDecoder {
public:
    explicit TextDecoder(TextEncoding encoding);

    // Appends the decoded text of bytes to output; with last set, no more bytes follow.
    void decode(std::string_view bytes, bool last, std::string& output);

    // True while every byte so far was valid in the encoding (no replacement was made).
    bool clean() const { return clean_; }

private:
    void appendCleaned(std::string_view utf8, std::string& output);

    TextEncoding encoding_;
    IconvConverter converter_;
    std::string carry_; // an incomplete sequence left over from the last piece
    std::string converted_;
    bool clean_ = true;
};

// Decodes a whole text at once: the same rules, for small texts and tests.
std::string decodeText(std::string_view bytes, TextEncoding encoding = TextEncoding::Automatic);

// The encoding that Automatic resolves to for a whole text.
TextEncoding detectEncoding(std::string_view bytes);

} // namespace kestrova::speech
