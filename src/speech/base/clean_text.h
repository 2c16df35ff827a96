#pragma once

#include <string>
#include <string_view>

namespace kestrova::speech {

// White space, a control character (C0, DEL, C1: U+0085 and U+009B among them) or a line or
// paragraph separator (U+2028, U+2029): what a document's text holds only as a gap between
// words, whatever a terminal, a tag reader or a cue sheet would make of it.
bool isGapCharacter(int codePoint);

// A bidirectional embedding, override or isolate (U+202A to U+202E, U+2066 to U+2069): it
// turns the text after it around wherever the text is shown, a file name beside it included.
bool isDirectionControl(int codePoint);

// What a document says of itself (a title, an author, a language, a date, a chapter's name)
// as every reader keeps it: each run of gap characters one space, none at the ends, direction
// controls taken out, a byte that is no UTF-8 U+FFFD. Then tags, cue sheets, timings, chapter
// lists and messages show it on one line, as it is written.
std::string cleanText(std::string_view text);

} // namespace kestrova::speech
