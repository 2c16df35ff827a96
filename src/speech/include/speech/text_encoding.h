#pragma once

#include <string_view>

namespace kestrova::speech {

// The encodings a text file is read in; Automatic detects it from the text.
enum class TextEncoding { Automatic, Utf8, Windows1252, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

// Whether text is valid UTF-8 throughout: no stray or cut sequence, overlong form or surrogate.
bool isUtf8(std::string_view text);

} // namespace kestrova::speech
