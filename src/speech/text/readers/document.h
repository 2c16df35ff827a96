#pragma once

#include "speech/base/unique_fd.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {

// What a book or document says of itself. Empty strings: not given.
struct DocumentMetadata {
    std::string title;
    std::string author;
    std::string language; // a BCP 47 tag as the document gives it ("en", "de-AT", "zh-Hans")
    std::string date;
    // The cover image's bytes and media type ("image/jpeg", "image/png"); empty: none.
    std::string coverType;
    std::string coverBytes;
};

// Each of the metadata's texts as cleanText leaves it: every reader gives its metadata so.
void cleanMetadata(DocumentMetadata& metadata);

// A stretch of a block's text in one language, with where its bytes stand in the source.
struct DocumentRun {
    std::string text;     // as read aloud: white space collapsed to single spaces
    std::string language; // the language in effect there; empty: the document's own
    // Where the run's text stands in its source file: the text's byte offset i lies at
    // sourceBytes[k].second + (i - sourceBytes[k].first) for the last k whose first <= i
    // (exact within one text node without entities; the node's start otherwise). Sorted by
    // first, first entry at 0; empty: no place known.
    std::vector<std::pair<std::size_t, std::uint64_t>> sourceBytes;
};

// One block of a document as it is read: a heading, a paragraph, a list item, a table row.
// A block ends a paragraph; its runs follow one another within it.
struct DocumentBlock {
    std::vector<DocumentRun> runs;
    std::string source; // the file the block comes from (inside an EPUB); empty: the input
    std::string page;   // the label of the page it begins on (a PDF's); empty: none
};

// What a reader passes over of a document's content, so that a document of nothing else can
// be refused in words that say why.
enum class LeftOut { Image, Note, Navigation, Code };

// Receives a document in reading order.
class DocumentSink {
public:
    virtual ~DocumentSink() = default;
    // A chapter begins before the next block, titled as the document's table of contents or
    // heading names it.
    virtual void chapter(std::string title) = 0;
    virtual void block(DocumentBlock block) = 0;
    // Content the reader passed over, where it would have stood.
    virtual void leftOut(LeftOut) {}
};

// What a reader leaves out unless asked.
struct DocumentOptions {
    bool readAlt = false;   // images' alternative text
    bool readNotes = false; // footnotes, endnotes and the marks that refer to them
    bool readCode = false;  // code blocks (Markdown)
    // Told of what the document holds that the reader passes over (one line each).
    std::function<void(const std::string&)> warning;
    // Checked between pieces of a large document; set: the reader stops with
    // ConversionCancelled as soon as it can.
    const std::atomic<bool>* cancel = nullptr;
    // The file, already open and regular, so that a conversion opens its input once: the
    // reader reads a duplicate of this descriptor. -1: the reader opens the file by its path.
    int openFile = -1;
};

// The reader's own descriptor of options.openFile; none (-1) where it opens the file itself.
UniqueFd duplicateOpenFile(const DocumentOptions& options);

// A structured document, opened: its metadata known, its text read on demand, one piece
// (a spine item, say) at a time so that memory stays bounded whatever its size. read() may be
// called more than once and gives the same blocks each time. Failures throw FileError naming
// the file (and the entry inside it) and the reason.
class StructuredDocument {
public:
    virtual ~StructuredDocument() = default;
    virtual const DocumentMetadata& metadata() const = 0;
    virtual void read(DocumentSink& sink) = 0;
};

std::unique_ptr<StructuredDocument> openEpub(const std::filesystem::path& file,
                                             const DocumentOptions& options);
std::unique_ptr<StructuredDocument> openHtml(const std::filesystem::path& file,
                                             const DocumentOptions& options);
std::unique_ptr<StructuredDocument> openPdf(const std::filesystem::path& file,
                                            const DocumentOptions& options);
std::unique_ptr<StructuredDocument> openMarkdown(const std::filesystem::path& file,
                                                 const DocumentOptions& options);
std::unique_ptr<StructuredDocument> openDocx(const std::filesystem::path& file,
                                             const DocumentOptions& options);
std::unique_ptr<StructuredDocument> openOdt(const std::filesystem::path& file,
                                            const DocumentOptions& options);

} // namespace kestrova::speech
