#pragma once

#include "speech/text/readers/xml/xml_parser_context.h"

#include <functional>
#include <libxml/tree.h>
#include <optional>
#include <string>
#include <string_view>

// The small XML documents of a book (its container, package document, navigation document
// and NCX, its encryption list), read into a tree: they are bounded in size, and their
// readers look things up across them.
namespace kestrova::speech::book_xml {

inline constexpr std::string_view opfNamespace = "http://www.idpf.org/2007/opf";
inline constexpr std::string_view dcNamespace = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view opsNamespace = "http://www.idpf.org/2007/ops";
inline constexpr std::string_view ncxNamespace = "http://www.daisy.org/z3986/2005/ncx/";
inline constexpr std::string_view xhtmlNamespace = "http://www.w3.org/1999/xhtml";
inline constexpr std::string_view containerNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:container";
inline constexpr std::string_view encryptionNamespace = "http://www.w3.org/2001/04/xmlenc#";

using Document = xml::Document;

// Parses bytes through the readers' one front end (xml::ParserContext): no network, no DTD
// loaded, entity declarations refused, libxml2's depth and size limits kept. A document the
// parser cannot read throws the reason (through fail, which must not return).
Document parse(std::string_view bytes, const std::function<void(const std::string&)>& fail);

std::string_view nameOf(const xmlNode& node);
// True for an element of that local name in that namespace.
bool isElement(const xmlNode& node, std::string_view namespaceUri, std::string_view localName);
// An attribute in no namespace (namespaceUri empty) or in the given one.
std::optional<std::string> attribute(const xmlNode& node, const char* name,
                                     std::string_view namespaceUri = {});
// The element's text, white space collapsed to single spaces and trimmed.
std::string textOf(const xmlNode& node);

// The first child element of that name, or nullptr.
const xmlNode* child(const xmlNode& parent, std::string_view namespaceUri,
                     std::string_view localName);
// Each element under root (root included) in document order, until visit returns false.
void forEachElement(const xmlNode& root, const std::function<bool(const xmlNode&)>& visit);

// True when the space-separated list holds word ("cover-image" in "cover-image svg").
bool listHolds(std::string_view list, std::string_view word);

} // namespace kestrova::speech::book_xml
