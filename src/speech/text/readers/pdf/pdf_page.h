#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrova::speech::pdf {

// What a line of a page is to a listener.
enum class LineRole {
    Body,      // read
    Furniture, // a running head or footer, or a page number: never read
    Note,      // a footnote at the page's foot: read only when notes are
};

// One line of a page's text layer, in page units (points), top down.
struct PdfLine {
    std::string text; // its words, single spaces between them
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
    double size = 0; // the font size of most of its characters
    LineRole role = LineRole::Body;
};

// A page's lines in poppler's reading order (its layout analysis reads a column down before
// the next), with what the page is called.
struct PdfPage {
    std::vector<PdfLine> lines;
    std::string label; // the page's label where the document gives them, else its number
    double height = 0;
    std::size_t noteMarks = 0; // superscript note marks left out of its lines
};

} // namespace kestrova::speech::pdf
