#pragma once

#include "speech/text/readers/xml/xml_parser_context.h"
#include "speech/text/readers/xml/xml_text.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <libxml/tree.h>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The XHTML page reader's side of libxml2: one page parsed into a tree, safely, with where each
// text node's bytes stand in the page.
namespace kestrova::speech::xhtml {

// A page is read whole into a tree, so its size is bounded; books split their text into many
// pages, and the largest pages of real books are a few MiB.
inline constexpr std::size_t pageMaxBytes = 16u << 20;
// Real pages nest some tens of elements; the limit keeps the tree's walk, which recurses, shallow
// and lies below libxml2's own (256), so that the message is ours.
inline constexpr int pageMaxDepth = 200;

// The page's line and the reason it cannot be read; the caller names the file.
struct PageFault {
    int line = 0; // 0: the page as a whole
    std::string reason;
    // The page is not well-formed XML (a stray end tag, an unquoted attribute): the HTML parser
    // may read it. Not so a refusal that protects: declared entities, unknown DTDs, limits.
    bool malformed = false;
};

// Where a text node's content stands in the page: content byte first lies at page byte second,
// and the bytes after it follow on, up to the next pair's first.
using TextPlaces = std::vector<std::pair<std::size_t, std::uint64_t>>;

// A page's tree. XHTML is read by the XML parser with no network, no DTD loaded and no entity
// substituted; a page that declares an entity is refused (the declaration could bring in a file
// or multiply itself into gigabytes). A named reference the page does not declare (&nbsp; under
// the XHTML DTD that EPUB 2 pages name) stays a reference node, which the reader resolves
// through HTML's own table. HTML is read by libxml2's HTML parser, which knows only HTML's own
// entities and forgives what browsers forgive.
//
// Places: text the parser hands over where it lies in the page is placed exactly; text it hands
// over as a copy (around a CR LF, which it reads as LF, and all of the HTML parser's text) is
// matched backwards against the page's own bytes from where the parser stands, and so placed
// exactly too. A character reference ("&amp;", "&#233;") is placed at its "&". A page the
// parser converts from Latin-1 is read again from its UTF-8 form, and placed a byte for each
// character; one in any other encoding has no places.
//
// Encoding: a byte order mark decides; else bytes that are valid UTF-8 are read as UTF-8
// whatever the page declares; else the declared charset, and when libxml2 cannot convert the
// page from it, the page as plain text decodes it (Windows-1252). libxml2's reports never reach
// standard error: they become the PageFault or are dropped.
//
// XHTML that is not well-formed (a book's page with one stray tag) is read again by the HTML
// parser, as a browser would show it; malformedAs() then says what the XML parser found first.
class PageTree {
public:
    // Throws PageFault; ConversionCancelled once the cancel flag is set, looked at as the parser
    // hands over each element and piece of text (a page of 16 MiB takes seconds).
    PageTree(std::string_view bytes, bool html, const std::atomic<bool>* cancel = nullptr);

    xmlNode* root() const { return xmlDocGetRootElement(document_.get()); }
    // Empty when not known.
    const TextPlaces& placesOf(const xmlNode* text) const;
    // The XML parser's first fault where the page was read as HTML instead; nullopt: read as
    // what it was given as.
    const std::optional<PageFault>& malformedAs() const { return malformed_; }

    enum class Reading; // how the page's encoding is chosen

private:
    struct Parse;
    void parse(std::string_view bytes, bool html, const std::atomic<bool>* cancel);
    bool parsed(std::string_view bytes, bool html, Reading reading,
                const std::atomic<bool>* cancel);
    void placeLatin1(std::string_view bytes, bool html, const std::atomic<bool>* cancel);
    xml::Document document_;
    std::unordered_map<const xmlNode*, TextPlaces> places_;
    bool latin1_ = false; // the page was read from Latin-1: placeLatin1 places it
    std::optional<PageFault> malformed_;
};

using xml::textOf;

// An attribute by its name as HTML writes it: "lang", "epub:type", "xml:lang". Under the XML
// parser a prefixed name is looked for in its namespace (epub: as EPUB's, xml: as XML's).
// nullopt: the element has no such attribute.
std::optional<std::string> attributeOf(const xmlNode& element, std::string_view name);

} // namespace kestrova::speech::xhtml
