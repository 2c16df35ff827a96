#pragma once

#include "speech/text/readers/epub/epub_toc.h"

#include <string>
#include <string_view>
#include <vector>

// What makes an EPUB 2 book's documents those of an EPUB 3 book: its navigation document made
// from the NCX, and its pages' XHTML 1.1 declarations as HTML5 has them.
namespace kestrova::speech::read_along {

// An EPUB 3 navigation document at navEntry whose toc nav lists the entries in their order.
std::string navigationDocument(const std::vector<epub::TocEntry>& entries,
                               const std::string& navEntry, std::string_view title,
                               std::string_view language);

// The page with its document type declaration, if any, as "<!DOCTYPE html>" and without the
// http-equiv meta elements HTML5 does not have (Content-Style-Type, Content-Script-Type); every
// other byte as it was.
std::string asHtml5Page(std::string_view page);

} // namespace kestrova::speech::read_along
