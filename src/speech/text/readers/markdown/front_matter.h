#pragma once

#include "speech/text/readers/document.h"

#include <cstddef>
#include <string_view>

namespace kestrova::speech {

// The YAML block at the very top of a Markdown file, as pandoc and static-site tools write it:
// a "---" line, "key: value" lines, and a closing "---" or "..." line.
struct FrontMatter {
    DocumentMetadata metadata; // title, author, language and date; the rest stays empty
    std::size_t length = 0;    // the block's bytes, its closing line's end included; 0: none
};

// Reads the block at the start of text, if there is one. Only the plain forms these keys take
// are understood, line by line (no YAML library): a plain or quoted scalar (a double-quoted one
// with YAML's escapes, "\xE9" and "\u00EB" as the characters they stand for), a folded or literal
// block ("|", ">"), and a list, block or flow, of which the first entry counts ("author" as a
// list of names, or of maps with a "name"). "lang" and "language" both give the language.
// Each value comes cleaned, as cleanText cleans it.
FrontMatter readFrontMatter(std::string_view text);

} // namespace kestrova::speech
