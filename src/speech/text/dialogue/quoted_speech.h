#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// Bytes [begin, end) of a paragraph that a character says, its quotation marks (or its
// opening dash) included.
struct DialogueSpan {
    std::size_t begin = 0;
    std::size_t end = 0;

    bool operator==(const DialogueSpan&) const = default;
};

// The quoted speech of one paragraph as its language writes it (a BCP 47 tag; its first
// subtag chooses the marks, others get the English ones), in order. A quotation left open at
// the paragraph's end ends there, so that a stray mark cannot turn the rest of a book into
// speech; a paragraph that continues a quotation opens with the mark again. A single quote
// pairs only where it closes within the paragraph, before the next mark that could open one,
// so apostrophes stay words' own: 'tis and rock 'n' roll open none, and a plural's (the
// Smiths' son) closes one only where no other mark does. Where the language sets the speaker's
// incise inside the quotation (French: "dit-il", "répondit Marie" after a comma or a
// question or exclamation mark), the incise is the narrator's, to the comma after it or its
// sentence's end.
std::vector<DialogueSpan> dialogueSpans(std::string_view paragraph, std::string_view language);

} // namespace kestrova::speech
