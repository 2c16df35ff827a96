#pragma once

#include "speech/text/readers/pdf/hyphen_breaks.h"
#include "speech/text/readers/pdf/line_spacing.h"
#include "speech/text/readers/pdf/pdf_page.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech::pdf {

// A paragraph as it is read: its lines joined, the size of its first line's font.
struct PdfParagraph {
    std::string text;
    double size = 0;
    std::size_t lines = 0;
    std::string page; // the label of the page it begins on
};

// How far right the lines of a page reach, by where they begin: a line that reaches its
// column's edge is full, so that a paragraph may go on past it into the next column or page.
class PageEdges {
public:
    explicit PageEdges(const PdfPage& page);
    bool isFull(const PdfLine& line) const;

private:
    static long leftKey(double left);
    std::map<long, double> rights_;
};

// Joins lines into paragraphs. A paragraph ends before a line of another font size, a line
// further down than the usual line spacing, a line indented past the one before (but for the
// second line of a paragraph whose first is full, as a list item's hanging indent has it), and
// a line in the next column or on the next page where the line before stops short of its
// edge; never at a line's end alone. Lines join with a space, a word broken at a line's end
// without one (HyphenBreaks).
class ParagraphJoiner {
public:
    ParagraphJoiner(const HyphenBreaks& hyphens, const LineSpacing& spacing,
                    std::function<void(PdfParagraph)> done);

    // The page's next line; breakBefore: it begins a paragraph whatever its place.
    void add(const PdfLine& line, std::size_t page, const PageEdges& edges,
             const std::string& label, bool breakBefore = false);
    // Sent once the paragraph in progress ends (a footnote waits for the end of the sentence's
    // paragraph it stands beside).
    void hold(PdfParagraph paragraph);
    void finish();

private:
    bool breaksBefore(const PdfLine& line, std::size_t page) const;
    void append(const std::string& text);
    void close();

    const HyphenBreaks& hyphens_;
    const LineSpacing& spacing_;
    std::function<void(PdfParagraph)> done_;
    std::optional<PdfParagraph> open_;
    PdfLine last_;
    bool lastFull_ = false;
    double columnRight_ = 0;      // how far the paragraph's lines reach in the column it is in
    std::size_t columnLines_ = 0; // its lines in that column
    std::size_t lastPage_ = 0;
    std::vector<PdfParagraph> held_;
};

} // namespace kestrova::speech::pdf
