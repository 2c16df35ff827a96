#include "speech/text/readers/docx/docx_names.h"

#include "speech/text/readers/xml/xml_text.h"

#include <charconv>

namespace kestrova::speech::docx {

bool isWord(const xmlNode& node, std::string_view localName) {
    if (node.type != XML_ELEMENT_NODE || node.ns == nullptr || xml::textOf(node.name) != localName)
        return false;
    const std::string_view ns = xml::textOf(node.ns->href);
    return ns == wordNamespace || ns == strictWordNamespace;
}

const xmlNode* wordChild(const xmlNode& parent, std::string_view localName) {
    for (const xmlNode* at = parent.children; at != nullptr; at = at->next)
        if (isWord(*at, localName))
            return at;
    return nullptr;
}

std::optional<std::string> wordAttribute(const xmlNode& node, const char* name) {
    if (auto value = book_xml::attribute(node, name, wordNamespace))
        return value;
    return book_xml::attribute(node, name, strictWordNamespace);
}

std::optional<std::string> propertyValue(const xmlNode* properties, std::string_view name) {
    const xmlNode* property = properties != nullptr ? wordChild(*properties, name) : nullptr;
    return property != nullptr ? wordAttribute(*property, "val") : std::nullopt;
}

bool isOn(const xmlNode* properties, std::string_view name) {
    if (properties == nullptr || wordChild(*properties, name) == nullptr)
        return false;
    const std::string value = propertyValue(properties, name).value_or("true");
    return value != "0" && value != "false" && value != "off";
}

int outlineLevelOf(const xmlNode* paragraphProperties) {
    const std::string value = propertyValue(paragraphProperties, "outlineLvl").value_or("");
    int level = -1;
    std::from_chars(value.data(), value.data() + value.size(), level);
    return level >= 0 && level <= 8 ? level + 1 : 0;
}

} // namespace kestrova::speech::docx
