#pragma once

#include "speech/text/readers/document.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrova::speech {

// The largest PDF file read: poppler reads it from memory.
inline constexpr std::uint64_t pdfMaxBytes = std::uint64_t{256} << 20;

// A PDF document already in memory; name stands for the file in messages. openPdf() reads its
// file into this.
//
// Its text layer is read page by page through poppler, in poppler's reading order (a column
// down before the next), lines into paragraphs (paragraph_joiner.h), words broken at a line's
// end joined (hyphen_breaks.h). Running heads and footers and page numbers are never read
// (page_furniture.h); footnotes and the superscript marks that refer to them only with
// readNotes (page_notes.h, page_lines.h), each note after the paragraph it stands beside.
// Chapters come from the outline, else from headings set larger than the body
// (pdf_chapters.h); each block carries its page's label. Refused, naming the file: a damaged
// file, one that needs a password to open, one without a text layer (a scan), a page of more
// than pdf::maxBoxesPerPage text boxes.
std::unique_ptr<StructuredDocument> readPdf(std::string bytes, const std::string& name,
                                            const DocumentOptions& options);

} // namespace kestrova::speech
