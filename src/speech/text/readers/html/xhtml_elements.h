#pragma once

#include "speech/text/readers/html/xhtml_blocks.h"
#include "speech/text/readers/html/xhtml_page_tree.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// What the XHTML page reader makes of an element: a block or inline, read or left out, a note
// or a reference to one. Names are compared as the HTML parser gives them (lower case) and as
// XHTML writes them (the same).
namespace kestrova::speech::xhtml {

std::string_view nameOf(const xmlNode& element);

// Ends the text before it and begins another: headings, paragraphs, list items, rows...
bool isBlockElement(std::string_view name);
// h1, h2 and h3.
bool isChapterHeading(std::string_view name);

// Never read, whatever the options: the head, scripts, styles, templates, embedded media,
// forms' controls, ruby annotations (the base text is read once), hidden elements, page-list,
// landmarks and table-of-contents navigation, page-break and page-number marks, notes' links
// back to their references.
bool isNeverRead(const xmlNode& element);
// A mark of where a printed page begins (epub:type pagebreak, role doc-pagebreak) or of the
// printed page's or line's number by its class (pagenum, lnum...): never read.
bool isPageMarker(const xmlNode& element);
// An image or a drawing without text, read (with readAlt) by its alternative text alone;
// nullopt: none given, or the image is hidden. (A formula is read always, by its alttext where
// it has one.)
bool isImage(const xmlNode& element);
std::optional<std::string> alternativeText(const xmlNode& element);

// A reference to a note: marked as one (epub:type noteref, role doc-noteref), or a link into
// the book whose class names a footnote or, byMarkText, whose text is only a number or a mark
// ("3", "[3]", "(3)", "*", "†", "‡").
bool isNoteReference(const xmlNode& element, bool byMarkText);
// Whether any element under parent is marked as a note reference: a page that marks its
// references (EPUB 3's, pandoc's HTML) has its other links read, "see part 3" among them.
bool marksNoteReferences(const xmlNode& parent);

// A note's body by its own marks: epub:type footnote, endnote, rearnote and their plurals; role
// doc-footnote, doc-endnote, doc-endnotes; an aside with a note role; a class or id naming
// footnotes or endnotes (pandoc's section class="footnotes").
bool isMarkedNoteBody(const xmlNode& element);

// Whether an element that a note reference points at may be the note: not the book's structure
// (body, section, article...), a heading, a bibliography's or glossary's entry, nor what holds
// a heading or more text than a note has (16 KiB): a link whose text is a number also leads to
// chapters and pages.
bool mayBeNote(const xmlNode& element);

// The element's id (or an anchor's name, which older books use instead); empty: none.
std::string idOf(const xmlNode& element);

// What a link points at inside the book: its file (resolved against the page's name, as an
// EPUB's paths are) and the element's id. nullopt: a link elsewhere, or to no element.
std::optional<std::pair<std::string, std::string>> linkTarget(const xmlNode& element,
                                                              const std::string& pageName);

// The text of an element's subtree, white space collapsed, at most about maxBytes long.
std::string shortTextOf(const xmlNode& element, std::size_t maxBytes);
// ASCII white space collapsed to single spaces, none at the edges.
std::string collapsedText(std::string_view text);

// The character an entity of HTML's own names (&nbsp;, &eacute;), in UTF-8; empty: no such
// entity.
std::string entityText(std::string_view name);

// Only a number or a note mark, perhaps in brackets or parentheses.
bool isNoteMarkText(std::string_view text);

} // namespace kestrova::speech::xhtml
