#pragma once

namespace kestrova::speech {

// The encodings a text file is read in; Automatic detects it from the text.
enum class TextEncoding { Automatic, Utf8, Windows1252, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

} // namespace kestrova::speech
