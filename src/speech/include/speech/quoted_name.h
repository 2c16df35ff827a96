#pragma once

#include <string>
#include <string_view>

namespace kestrova::speech {

// A file or voice name as messages show it. A name of printable UTF-8 is put in double
// quotes as it is: "notes.wav". A name with control characters (a line feed, an escape,
// C1 controls), bidirectional overrides or bytes that are no UTF-8 is quoted as the shell
// reads it back, as ls --quoting-style=shell-escape does: 'a'$'\n''b'. Then a message
// stays on one line and cannot drive the terminal.
std::string quotedName(std::string_view name);

// True for a name of printable UTF-8 only, which quotedName merely puts in double quotes.
bool isPlainName(std::string_view name);

// A value read from the input (an attribute, a pattern) as messages show it: quoted as
// quotedName quotes a name, and when longer than longestBytes, cut in the middle to its first
// and last characters around "...", so that one bad value cannot flood the terminal.
std::string quotedValue(std::string_view value, std::size_t longestBytes = 80);
// How long a name read from a document may be in a message before it is cut: the name of an
// entry in a book, which a ZIP archive allows up to 64 KiB, is cut past it.
inline constexpr std::size_t longestDocumentName = 200;
// A value where a message has always shown it bare (a language in the summary): as it is when
// printable and no longer than longestBytes, else as quotedValue gives it.
std::string shownValue(std::string_view value, std::size_t longestBytes = 80);
// The cut alone, unquoted: for text known to be printable, such as an XML name.
std::string cutInTheMiddle(std::string_view value, std::size_t longestBytes = 80);

} // namespace kestrova::speech
