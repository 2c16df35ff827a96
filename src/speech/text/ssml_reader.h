#pragma once

#include "speech/text/speech_script.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kestrova::speech {

// Called once for each element the reader does not know, with its name, line and column
// (its text content is read as text).
using SsmlWarning = std::function<void(const std::string& message)>;

// Reads an SSML 1.1 document into runs, breaks and marks. Malformed markup throws
// SpeechError with sourceName, line and column ("FILE:LINE:COLUMN: reason", libxml2's own
// reason); nothing is read from outside the document. A document that declares entities is
// refused: no entity but XML's own five is ever expanded.
SpeechScript readSsml(std::string_view document, const std::string& sourceName,
                      const SsmlWarning& warn = {});

// The most bytes and the deepest nesting a document may have.
inline constexpr std::size_t ssmlMaxBytes = 64u << 20;
inline constexpr int ssmlMaxDepth = 256;

} // namespace kestrova::speech
