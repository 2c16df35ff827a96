#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/html/xhtml_page_warnings.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// Ids of elements by their page: "OEBPS/notes.xhtml" and "n3", "n4".
using IdsByPage = std::map<std::string, std::set<std::string>, std::less<>>;

// One XHTML or HTML page of a document, as the block reader is to read it.
struct XhtmlPage {
    std::string_view bytes; // the page's own bytes
    std::string name;       // for messages and DocumentBlock::source: "OEBPS/ch1.xhtml"
    bool html = false;      // libxml2's HTML parser (a lone .html file) instead of XML's
    std::string language;   // inherited from the book when the page gives none
    // Chapters that begin at an element of the page, by its id, with their titles; "" as
    // the key: a chapter that begins with the page.
    std::map<std::string, std::string> chaptersAt;
    // The ids of chaptersAt in the table of contents' order, in which those the page does not
    // hold begin where it ends; empty: in the ids' order.
    std::vector<std::string> chapterOrder = {};
    // Headings h1-h3 begin chapters (a lone HTML file, or a book without a usable table of
    // contents); the heading's text is the title.
    bool headingsAreChapters = false;
    // Ids of elements that are note bodies although nothing in them says so (in EPUB 2, the
    // targets of note references anywhere in the book): left out with the notes.
    std::set<std::string> noteIds;
    // The book's elements that a link whose text is only a number leads to as to a note, by
    // page: such a link is a note reference only when it leads to one. Asked for once the page
    // holds such a link (a book finds them in a pass over its pages); empty: only the page's
    // own are known, found as it is read (a lone HTML file).
    std::function<const IdsByPage&()> bookNotes = {};
};

// Reads the page's blocks (headings, paragraphs, list items, table rows, text split at br)
// into the sink, in document order, calling sink.chapter() where chaptersAt or the headings
// say. Formulas are read inside their sentences, drawings by their text. Left out (and told
// to sink.leftOut()): script, style, head, page-list and landmarks navigation, images (their
// alt with options.readAlt), and without options.readNotes note references and note bodies.
// The page is parsed with no network, no DTD loading and no entity declarations; a page
// deeper or larger than the limits, or one the parser cannot read, throws FileError naming
// page.name; XHTML that is not well-formed is read as HTML, with a warning.
// Each run's sourceBytes place its text in page.bytes: byte for byte where the page holds the
// text as it is read (a UTF-8 page, CR LF line ends included); a character reference's
// character at its "&"; what the page does not hold as such (an entity resolved through
// HTML's table, an image's alt text, the comma between table cells) follows on from the byte
// before it. A Latin-1 page is placed in its own bytes, a byte for each character; a page in
// another encoding has no places.
void readXhtmlPage(const XhtmlPage& page, const DocumentOptions& options, DocumentSink& sink,
                   PageWarnings& warnings);
// ... with the page's warnings told through options.warning, the page's alone.
void readXhtmlPage(const XhtmlPage& page, const DocumentOptions& options, DocumentSink& sink);

// What a first pass over a book finds in one page of its notes.
struct PageNotes {
    // The ids inside the book that the page's note references, marked or by their number,
    // point at ("notes.xhtml#n3" as "notes.xhtml" and "n3", resolved against the page's name).
    std::set<std::pair<std::string, std::string>> targets;
    // The ids of the page's elements that may be notes (xhtml::noteLikeIds).
    std::set<std::string> noteLikeIds;
};
PageNotes notesOf(const XhtmlPage& page);
// notesOf(page).targets.
std::set<std::pair<std::string, std::string>> noteTargetsOf(const XhtmlPage& page);
// Of the targets gathered over the book, those that may be notes: the note bodies by page.
IdsByPage noteBodies(const IdsByPage& targets, const IdsByPage& noteLikeIds);

} // namespace kestrova::speech
