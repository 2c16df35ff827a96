#pragma once

#include "speech/text/readers/epub/epub_package.h"

#include <string>
#include <string_view>
#include <vector>

// A book's table of contents: the EPUB 3 navigation document's toc nav, or the EPUB 2 NCX.
namespace kestrova::speech::epub {

struct TocEntry {
    BookPlace place;
    std::string title;
    // How deep in the table's nesting: 0 at its top, 1 under an entry of the top, and so on.
    int level = 0;
};

// Every entry of every level, in the order the table gives them (nested entries after the
// one they belong to), each pointing into the book; links outside it are left out.
std::vector<TocEntry> navEntries(std::string_view navXml, const std::string& navEntry,
                                 const Refusal& fail);
std::vector<TocEntry> ncxEntries(std::string_view ncxXml, const std::string& ncxEntry,
                                 const Refusal& fail);

} // namespace kestrova::speech::epub
