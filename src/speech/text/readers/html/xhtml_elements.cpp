#include "speech/text/readers/html/xhtml_elements.h"

#include "speech/ascii.h"
#include "speech/base/utf8.h"

#include <algorithm>
#include <array>
#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>
#include <vector>

namespace kestrova::speech::xhtml {

namespace {

template <std::size_t N>
bool isOneOf(std::string_view name, const std::array<std::string_view, N>& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

constexpr std::array<std::string_view, 44> blockNames = {
    "address", "article", "aside",  "blockquote", "body", "caption", "center",   "dd",
    "details", "dialog",  "dir",    "div",        "dl",   "dt",      "fieldset", "figcaption",
    "figure",  "footer",  "form",   "h1",         "h2",   "h3",      "h4",       "h5",
    "h6",      "header",  "hgroup", "hr",         "html", "legend",  "li",       "main",
    "menu",    "nav",     "ol",     "p",          "pre",  "section", "summary",  "table",
    "tbody",   "tfoot",   "thead",  "tr"};

constexpr std::array<std::string_view, 19> neverReadNames = {
    "head",  "script", "style",  "template", "iframe", "object",   "embed",
    "video", "audio",  "canvas", "input",    "select", "textarea", "button",
    "rt",    "rp",     "img",    "area",     "source"};

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The white-space separated tokens of an attribute (epub:type, role, class), in lower case.
std::vector<std::string> tokensOf(const xmlNode& element, std::string_view attribute) {
    std::vector<std::string> tokens;
    const std::optional<std::string> value = attributeOf(element, attribute);
    if (!value)
        return tokens;
    const std::string lower = asciiLower(*value);
    for (std::size_t at = 0; at < lower.size();) {
        const auto isSpace = [](char c) {
            return isAsciiSpace(c);
        };
        const auto begin =
            std::find_if_not(lower.begin() + static_cast<std::ptrdiff_t>(at), lower.end(), isSpace);
        const auto end = std::find_if(begin, lower.end(), isSpace);
        if (begin != end)
            tokens.emplace_back(begin, end);
        at = static_cast<std::size_t>(end - lower.begin());
    }
    return tokens;
}

template <std::size_t N>
bool hasTokenOf(const xmlNode& element, std::string_view attribute,
                const std::array<std::string_view, N>& wanted) {
    const std::vector<std::string> tokens = tokensOf(element, attribute);
    return std::any_of(tokens.begin(), tokens.end(),
                       [&](const std::string& token) { return isOneOf(token, wanted); });
}

// Semantic marks come as epub:type in EPUB 3 and as ARIA's role everywhere.
template <std::size_t N>
bool isMarked(const xmlNode& element, const std::array<std::string_view, N>& wanted) {
    return hasTokenOf(element, "epub:type", wanted) || hasTokenOf(element, "role", wanted);
}

bool isHidden(const xmlNode& element) {
    if (attributeOf(element, "hidden"))
        return true;
    if (asciiLower(attributeOf(element, "aria-hidden").value_or("")) == "true")
        return true;
    std::string style = asciiLower(attributeOf(element, "style").value_or(""));
    std::erase_if(style, isAsciiSpace);
    return style.find("display:none") != std::string::npos;
}

} // namespace

bool isPageMarker(const xmlNode& element) {
    constexpr std::array<std::string_view, 2> pageBreaks = {"pagebreak", "doc-pagebreak"};
    // The printed edition's page and line numbers, as producers of HTML editions class them.
    constexpr std::array<std::string_view, 7> numbers = {
        "pagenum", "pageno", "page-number", "pagenumber", "linenum", "lnum", "linenumber"};
    return isMarked(element, pageBreaks) || hasTokenOf(element, "class", numbers);
}

namespace {

bool isNavigationLeftOut(const xmlNode& element) {
    // The table of contents goes too: in an EPUB 3 navigation page that a book puts in its
    // spine, it would read every chapter's title once more before the chapters.
    constexpr std::array<std::string_view, 6> navigation = {"page-list",    "landmarks", "toc",
                                                            "doc-pagelist", "doc-toc",   "loi"};
    // A note's link back to its reference ("↩"), read with the note it would be a symbol's name.
    constexpr std::array<std::string_view, 3> backLinks = {"backlink", "doc-backlink",
                                                           "footnote-back"};
    return isMarked(element, navigation) || isPageMarker(element) || isMarked(element, backLinks) ||
           hasTokenOf(element, "class", backLinks);
}

// "../text/ch1.xhtml" against "OEBPS/notes/n.xhtml"'s folder; nullopt above the book's root.
std::optional<std::string> resolvedPath(std::string_view folder, std::string_view relative) {
    std::vector<std::string> parts;
    const auto add = [&](std::string_view path) {
        for (std::size_t at = 0; at <= path.size();) {
            const std::size_t end = std::min(path.find('/', at), path.size());
            const std::string_view part = path.substr(at, end - at);
            if (part == "..") {
                if (parts.empty())
                    return false;
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.emplace_back(part);
            }
            at = end + 1;
        }
        return true;
    };
    if (!add(folder) || !add(relative))
        return std::nullopt;
    std::string joined;
    for (const std::string& part : parts)
        joined.append(joined.empty() ? "" : "/").append(part);
    return joined;
}

std::string percentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (text[at] == '%' && at + 2 < text.size() + 0 && hex(text[at + 1]) >= 0 &&
            hex(text[at + 2]) >= 0) {
            decoded.push_back(static_cast<char>(hex(text[at + 1]) * 16 + hex(text[at + 2])));
            at += 2;
        } else {
            decoded.push_back(text[at]);
        }
    }
    return decoded;
}

// A link to an element of the book: a fragment, and a path that is neither absolute nor
// another scheme's; its path and fragment as written.
std::optional<std::pair<std::string_view, std::string_view>> linkInBook(std::string_view link) {
    const std::size_t hash = link.find('#');
    if (hash == std::string_view::npos || hash + 1 == link.size())
        return std::nullopt;
    std::string_view path = link.substr(0, hash);
    path = path.substr(0, path.find('?'));
    const std::size_t colon = path.find(':');
    if ((colon != std::string_view::npos && colon < path.find('/')) || path.starts_with("/"))
        return std::nullopt;
    return std::pair{path, link.substr(hash + 1)};
}

bool isHeading(std::string_view name) {
    return name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
}

bool holdsHeading(const xmlNode& element) {
    for (const xmlNode* child = element.children; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE && (isHeading(nameOf(*child)) || holdsHeading(*child)))
            return true;
    return false;
}

void appendShortText(const xmlNode& node, std::string& text, std::size_t maxBytes) {
    for (const xmlNode* child = node.children; child != nullptr && text.size() <= maxBytes;
         child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
            text.append(textOf(child->content).substr(0, maxBytes + 1));
        else if (child->type == XML_ELEMENT_NODE)
            appendShortText(*child, text, maxBytes);
        else if (child->type == XML_ENTITY_REF_NODE)
            text.append(entityText(textOf(child->name)));
    }
}

} // namespace

std::string entityText(std::string_view name) {
    const std::string terminated(name);
    const htmlEntityDesc* entity =
        htmlEntityLookup(reinterpret_cast<const xmlChar*>(terminated.c_str()));
    if (entity == nullptr)
        return {};
    xmlChar bytes[8] = {};
    const int length = xmlCopyCharMultiByte(bytes, static_cast<int>(entity->value));
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(std::max(length, 0)));
}

std::string_view nameOf(const xmlNode& element) {
    return textOf(element.name);
}

bool isBlockElement(std::string_view name) {
    return isOneOf(name, blockNames);
}

bool isChapterHeading(std::string_view name) {
    return name == "h1" || name == "h2" || name == "h3";
}

bool isNeverRead(const xmlNode& element) {
    // Of EPUB's epub:switch, the epub:default is read; an epub:case holds what it stands for.
    const bool epubCase = nameOf(element) == "case" && element.ns != nullptr &&
                          textOf(element.ns->href) == "http://www.idpf.org/2007/ops";
    return isOneOf(nameOf(element), neverReadNames) || epubCase || isHidden(element) ||
           isNavigationLeftOut(element);
}

bool isImage(const xmlNode& element) {
    const std::string_view name = nameOf(element);
    return name == "img" || name == "area" || name == "svg" ||
           (name == "input" && asciiLower(attributeOf(element, "type").value_or("")) == "image");
}

std::optional<std::string> alternativeText(const xmlNode& element) {
    if (isHidden(element))
        return std::nullopt;
    const std::string_view name = nameOf(element);
    if (name == "svg")
        return attributeOf(element, "aria-label");
    return attributeOf(element, "alt");
}

bool isMarkedNoteReference(const xmlNode& element) {
    constexpr std::array<std::string_view, 2> references = {"noteref", "doc-noteref"};
    return isMarked(element, references);
}

bool isNoteReference(const xmlNode& element, bool byMarkText) {
    if (isMarkedNoteReference(element))
        return true;
    if (nameOf(element) != "a" || !linkInBook(attributeOf(element, "href").value_or("")))
        return false;
    const std::vector<std::string> classes = tokensOf(element, "class");
    const bool footnoteClass =
        std::any_of(classes.begin(), classes.end(), [](const std::string& name) {
            return name.find("footnote") != std::string::npos ||
                   name.find("noteref") != std::string::npos ||
                   name.find("fnref") != std::string::npos;
        });
    return footnoteClass || (byMarkText && isNoteMarkText(shortTextOf(element, 24)));
}

bool marksNoteReferences(const xmlNode& parent) {
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE &&
            (isMarkedNoteReference(*child) || marksNoteReferences(*child)))
            return true;
    return false;
}

bool isMarkedNoteBody(const xmlNode& element) {
    constexpr std::array<std::string_view, 9> bodies = {
        "footnote",  "endnote",      "rearnote",    "footnotes",   "endnotes",
        "rearnotes", "doc-footnote", "doc-endnote", "doc-endnotes"};
    constexpr std::array<std::string_view, 4> named = {"footnote", "footnotes", "endnote",
                                                       "endnotes"};
    constexpr std::array<std::string_view, 1> note = {"note"};
    if (isMarked(element, bodies) || hasTokenOf(element, "class", named))
        return true;
    if (nameOf(element) == "aside" && isMarked(element, note))
        return true;
    const std::string id = asciiLower(attributeOf(element, "id").value_or(""));
    return id == "footnotes" || id == "endnotes";
}

bool mayBeNote(const xmlNode& element) {
    constexpr std::array<std::string_view, 8> structure = {"html", "body",   "section", "article",
                                                           "main", "header", "nav",     "hgroup"};
    constexpr std::array<std::string_view, 6> entries = {"biblioentry",  "doc-biblioentry",
                                                         "bibliography", "doc-bibliography",
                                                         "glossary",     "doc-glossary"};
    if (isOneOf(nameOf(element), structure) || isHeading(nameOf(element)) ||
        isMarked(element, entries) || holdsHeading(element))
        return false;
    constexpr std::size_t longestNote = 16 << 10;
    return shortTextOf(element, longestNote).size() <= longestNote;
}

std::string idOf(const xmlNode& element) {
    if (std::optional<std::string> id = attributeOf(element, "id"))
        return *id;
    if (std::optional<std::string> id = attributeOf(element, "xml:id"))
        return *id;
    if (nameOf(element) == "a")
        return attributeOf(element, "name").value_or("");
    return {};
}

std::optional<std::pair<std::string, std::string>> linkTarget(const xmlNode& element,
                                                              const std::string& pageName) {
    const std::optional<std::string> href = attributeOf(element, "href");
    const auto link = href ? linkInBook(*href) : std::nullopt;
    if (!link)
        return std::nullopt;
    std::optional<std::string> file(pageName);
    if (!link->first.empty()) {
        const std::size_t slash = pageName.rfind('/');
        const std::string_view folder = slash == std::string::npos
                                            ? std::string_view{}
                                            : std::string_view(pageName).substr(0, slash);
        file = resolvedPath(folder, percentDecoded(link->first));
    }
    if (!file)
        return std::nullopt;
    return std::pair{*file, percentDecoded(link->second)};
}

std::string shortTextOf(const xmlNode& element, std::size_t maxBytes) {
    std::string raw;
    appendShortText(element, raw, maxBytes);
    return collapsedText(raw);
}

std::string collapsedText(std::string_view raw) {
    std::string text;
    for (char c : raw)
        if (!isAsciiSpace(c) || (!text.empty() && text.back() != ' '))
            text.push_back(isAsciiSpace(c) ? ' ' : c);
    if (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

bool isNoteMarkText(std::string_view text) {
    if (text.size() >= 2 && (text.back() == '.' || (text.back() == ')' && text.front() != '(')))
        text.remove_suffix(1); // "3." and "3)", as lists of notes label them
    if (text.size() >= 2 && ((text.front() == '[' && text.back() == ']') ||
                             (text.front() == '(' && text.back() == ')') ||
                             (text.front() == '{' && text.back() == '}')))
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 12)
        return false;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;
    // Marks: * † ‡ § ¶ ‖ # and superscript digits, alone or repeated.
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint point = codePointAt(text.substr(at));
        const int c = point.value;
        const bool mark = c == '*' || c == '#' || c == 0x2020 || c == 0x2021 || c == 0xA7 ||
                          c == 0xB6 || c == 0x2016 || c == 0xB9 || c == 0xB2 || c == 0xB3 ||
                          c == 0x2070 || (c >= 0x2074 && c <= 0x2079);
        if (!mark)
            return false;
        at += point.length;
    }
    return true;
}

} // namespace kestrova::speech::xhtml
