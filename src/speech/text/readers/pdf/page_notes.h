#pragma once

#include "speech/text/readers/pdf/pdf_page.h"

namespace kestrova::speech::pdf {

// Marks a page's footnotes as Note: the last lines of its reading (furniture aside) set
// smaller than the body's usual size, below every body line, the first of them beginning with
// a note's number or sign. Returns how many notes they hold (each line that begins with a
// number or sign begins one).
std::size_t markFootnotes(PdfPage& page, double bodySize);

// Whether a footnote's line begins a note: "1 Text", "12. Text", "* Text", "† Text".
bool beginsNote(const PdfLine& line);

} // namespace kestrova::speech::pdf
