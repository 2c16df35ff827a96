#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/html/xhtml_page_tree.h"
#include "speech/text/readers/odt/odt_styles.h"

#include <filesystem>
#include <string>

namespace kestrova::speech::odt {

// What the body's reading takes of the document.
struct OdtParts {
    const std::filesystem::path& document; // for messages
    const std::string& entry;              // "content.xml"
    const xhtml::PageTree& content;
    const OdtStyles& styles;
};

// Reads content.xml's office:text into the sink: paragraphs and headings in order (a table's
// row as one block, a frame's text box in place), text:h of the top outline level beginning
// chapters. Left out: tracked changes' regions (deletions), indexes, hidden text; notes and
// annotations unless options.readNotes, when each is read after the block that holds it;
// images but for their svg:title and svg:desc under options.readAlt.
void readOdtBody(const OdtParts& parts, const DocumentOptions& options, DocumentSink& sink);

} // namespace kestrova::speech::odt
