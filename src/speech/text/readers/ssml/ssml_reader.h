#pragma once

#include "speech/text/script/speech_script.h"
#include "speech/text_encoding.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kestrova::speech {

// Called once for each element the reader does not know, with its name, line and column
// (its text content is read as text).
using SsmlWarning = std::function<void(const std::string& message)>;

// Reads an SSML 1.1 document into runs, breaks and marks. document is the file's own bytes,
// decoded once by the XML parser in the encoding its byte order mark or declaration names
// (UTF-8 without either), or in encoding when that is not Automatic. Malformed markup throws
// SpeechError with sourceName, line and column ("FILE:LINE:COLUMN: reason"), a value from the
// document quoted and cut as quotedValue does; nothing is read from outside the document. A
// document that declares entities is refused: no entity but XML's own five is ever expanded.
SpeechScript readSsml(std::string_view document, const std::string& sourceName,
                      const SsmlWarning& warn = {},
                      TextEncoding encoding = TextEncoding::Automatic);

// readSsml on a document handed over piece by piece as its file is read: the parser builds no
// tree, and what is kept is the script so far, whatever the document's size. A fault throws
// from the push that reaches it, or from finish.
class SsmlReader {
public:
    explicit SsmlReader(std::string sourceName, SsmlWarning warn = {},
                        TextEncoding encoding = TextEncoding::Automatic);
    ~SsmlReader();
    SsmlReader(const SsmlReader&) = delete;
    SsmlReader& operator=(const SsmlReader&) = delete;

    void push(std::string_view bytes);
    SpeechScript finish();

private:
    class Parse;
    std::unique_ptr<Parse> parse_;
};

// The encoding to read a document in when none is given, from the one the text file reader
// detected: the parser's own choice (byte order mark, declaration, else UTF-8), except that a
// document that declares none and is no valid UTF-8 is read as Windows-1252, as plain text is.
TextEncoding ssmlEncoding(std::string_view document, TextEncoding detected);

// The most bytes and the deepest nesting a document may have.
inline constexpr std::size_t ssmlMaxBytes = 64u << 20;
inline constexpr int ssmlMaxDepth = 256;
// The most runs, breaks and marks a document's script may hold: with the text, what bounds
// the memory reading it takes.
inline constexpr std::size_t ssmlMaxItems = 1'000'000;
// The most silence the breaks of one document may add up to.
inline constexpr std::int64_t ssmlMaxSilenceMilliseconds = 24 * 3600 * 1000;

} // namespace kestrova::speech
