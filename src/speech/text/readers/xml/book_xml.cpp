#include "speech/text/readers/xml/book_xml.h"

#include "speech/text/readers/xml/xml_parser_context.h"
#include "speech/text/readers/xml/xml_text.h"

#include <cstdint>

namespace kestrova::speech::book_xml {

namespace {

void appendText(const xmlNode& node, std::string& text) {
    for (const xmlNode* at = node.children; at != nullptr; at = at->next) {
        if (at->type == XML_TEXT_NODE || at->type == XML_CDATA_SECTION_NODE)
            text.append(xml::textOf(at->content));
        else if (at->type == XML_ELEMENT_NODE)
            appendText(*at, text);
    }
}

} // namespace

Document parse(std::string_view bytes, const std::function<void(const std::string&)>& fail) {
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
        fail("the document is too large");
    xml::ParserContext context = xml::ParserContext::ofBytes(bytes, {});
    if (!context)
        fail("cannot start the XML parser");
    std::string refusal; // the first reason to refuse the document
    context.attach(nullptr, [&refusal](const std::string& reason) {
        if (refusal.empty())
            refusal = reason;
    });
    xmlParseDocument(context.get());
    Document document = context.takeDocument();
    if (!refusal.empty())
        fail(refusal);
    if (!context->wellFormed || !document) {
        const xmlError& last = context->lastError;
        fail(xml::placeOf(last.line, last.int2) + ": " + xml::parserReason(last.message));
    }
    if (xmlDocGetRootElement(document.get()) == nullptr)
        fail("the document has no root element");
    return document;
}

std::string_view nameOf(const xmlNode& node) {
    return xml::textOf(node.name);
}

bool isElement(const xmlNode& node, std::string_view namespaceUri, std::string_view localName) {
    return node.type == XML_ELEMENT_NODE && nameOf(node) == localName &&
           (node.ns == nullptr ? namespaceUri.empty() : xml::textOf(node.ns->href) == namespaceUri);
}

std::optional<std::string> attribute(const xmlNode& node, const char* name,
                                     std::string_view namespaceUri) {
    const auto* attributeName = reinterpret_cast<const xmlChar*>(name);
    xmlChar* value =
        namespaceUri.empty()
            ? xmlGetNoNsProp(&node, attributeName)
            : xmlGetNsProp(&node, attributeName,
                           reinterpret_cast<const xmlChar*>(std::string(namespaceUri).c_str()));
    if (value == nullptr)
        return std::nullopt;
    std::string kept(xml::textOf(value));
    xmlFree(value);
    return kept;
}

std::string textOf(const xmlNode& node) {
    std::string raw;
    appendText(node, raw);
    std::string text;
    for (char c : raw) {
        if (!xml::isXmlSpace(c))
            text.push_back(c);
        else if (!text.empty() && text.back() != ' ')
            text.push_back(' ');
    }
    if (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

const xmlNode* child(const xmlNode& parent, std::string_view namespaceUri,
                     std::string_view localName) {
    for (const xmlNode* at = parent.children; at != nullptr; at = at->next)
        if (isElement(*at, namespaceUri, localName))
            return at;
    return nullptr;
}

// A walk without recursion, whatever the depth.
void forEachElement(const xmlNode& root, const std::function<bool(const xmlNode&)>& visit) {
    const xmlNode* at = &root;
    while (at != nullptr) {
        if (at->type == XML_ELEMENT_NODE && !visit(*at))
            return;
        if (at->children != nullptr && at->type == XML_ELEMENT_NODE) {
            at = at->children;
            continue;
        }
        while (at != &root && at->next == nullptr)
            at = at->parent;
        if (at == &root)
            return;
        at = at->next;
    }
}

bool listHolds(std::string_view list, std::string_view word) {
    std::size_t at = 0;
    while (at < list.size()) {
        while (at < list.size() && xml::isXmlSpace(list[at]))
            ++at;
        std::size_t end = at;
        while (end < list.size() && !xml::isXmlSpace(list[end]))
            ++end;
        if (end > at && list.substr(at, end - at) == word)
            return true;
        at = end;
    }
    return false;
}

} // namespace kestrova::speech::book_xml
