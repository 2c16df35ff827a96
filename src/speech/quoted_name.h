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

} // namespace kestrova::speech
