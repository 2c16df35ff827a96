#pragma once

#include "speech/text/readers/pdf/pdf_page.h"

#include <cstddef>
#include <poppler-page.h>
#include <vector>

namespace kestrova::speech::pdf {

// The most text boxes (about one a word) one page may hold: past it the page is refused
// rather than read, since its lines are sorted in memory.
inline constexpr std::size_t maxBoxesPerPage = 200'000;

// The lines of a page from its text boxes: boxes in poppler's order that stand side by side
// on one band make a line; a space stands between two boxes where poppler says so or where a
// gap of more than a sixth of the font size parts them (justified lines). A superscript note
// mark (a small box of digits or a note sign raised beside a word) is left out unless
// keepNoteMarks, and counted in the page's noteMarks.
PdfPage pageLines(std::vector<poppler::text_box> boxes, bool keepNoteMarks);

// Whether the text is a note's mark: digits ("12", "3,4") or one of the signs * † ‡ § ¶.
bool isNoteMark(const std::string& text);

} // namespace kestrova::speech::pdf
