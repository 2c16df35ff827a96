#pragma once

#include "speech/text/readers/pdf/pdf_page.h"

#include <string_view>
#include <vector>

namespace kestrova::speech::pdf {

// Marks the lines no listener wants read as Furniture. Only the two lines nearest the top and
// the two nearest the bottom of a page, within a fifth of its height of the edge, are looked at:
// - a running head or footer: the same text, digits aside, within 8 points of the same
//   height on at least half of the pages and on three at least;
// - a page number: a line of only a number or a roman numeral, perhaps written "Page 3",
//   "- 3 -", "(iv)" or "3 of 10".
void markFurniture(std::vector<PdfPage>& pages);

bool isPageNumber(std::string_view text);

} // namespace kestrova::speech::pdf
