#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/docx/docx_styles.h"
#include "speech/text/readers/html/xhtml_page_tree.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace kestrova::speech::docx {

enum class NoteKind { Footnote, Endnote, Comment };

// A part of notes or comments, parsed once a reference to one of them is read.
struct NotePart {
    std::string entry; // "word/footnotes.xml"
    std::optional<xhtml::PageTree> tree;
    std::map<std::string, const xmlNode*, std::less<>> byId; // w:footnote, w:endnote, w:comment
};

// What the body's reading takes of the document.
struct DocxParts {
    const std::filesystem::path& document; // for messages
    const std::string& entry;              // "word/document.xml"
    const xhtml::PageTree& body;
    const DocxStyles& styles;
    std::function<const NotePart&(NoteKind)> notes;
};

// Reads word/document.xml's body into the sink: paragraphs in order (a table's row as one
// block), headings of the top outline level beginning chapters. Left out: tracked deletions
// and moves away, fields' instructions, hidden text; notes and comments unless
// options.readNotes, when each is read after the block that refers to it.
void readDocxBody(const DocxParts& parts, const DocumentOptions& options, DocumentSink& sink);

} // namespace kestrova::speech::docx
