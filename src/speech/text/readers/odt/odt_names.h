#pragma once

#include "speech/text/readers/xml/book_xml.h"

#include <optional>
#include <string>
#include <string_view>

// OpenDocument's namespaces, and its elements and attributes by them.
namespace kestrova::speech::odt {

inline constexpr std::string_view officeNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
inline constexpr std::string_view styleNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
inline constexpr std::string_view textNamespace = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
inline constexpr std::string_view tableNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
inline constexpr std::string_view drawNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
inline constexpr std::string_view foNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0";
inline constexpr std::string_view svgNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0";
inline constexpr std::string_view manifestNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";

inline bool isText(const xmlNode& node, std::string_view name) {
    return book_xml::isElement(node, textNamespace, name);
}
inline std::optional<std::string> textAttribute(const xmlNode& node, const char* name) {
    return book_xml::attribute(node, name, textNamespace);
}

} // namespace kestrova::speech::odt
