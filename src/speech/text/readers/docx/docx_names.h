#pragma once

#include "speech/text/readers/xml/book_xml.h"

#include <optional>
#include <string>
#include <string_view>

// WordprocessingML's names: its elements and their w:val, in the transitional namespace Word
// writes and the strict one it may save in.
namespace kestrova::speech::docx {

inline constexpr std::string_view wordNamespace =
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
inline constexpr std::string_view strictWordNamespace =
    "http://purl.oclc.org/ooxml/wordprocessingml/main";

// An element of WordprocessingML of that local name.
bool isWord(const xmlNode& node, std::string_view localName);
// The first child of that name, or nullptr.
const xmlNode* wordChild(const xmlNode& parent, std::string_view localName);
// A w: attribute ("val", "id", "type").
std::optional<std::string> wordAttribute(const xmlNode& node, const char* name);
// A property's w:val: that of the child of that name under the properties, if any.
std::optional<std::string> propertyValue(const xmlNode* properties, std::string_view name);
// Whether a toggle property (w:vanish, w:b) is on: present, and not "0", "false" or "off".
bool isOn(const xmlNode* properties, std::string_view name);
// A paragraph's or style's w:outlineLvl as a heading level: 0 to 8 make 1 to 9; 0: none (9 is
// body text).
int outlineLevelOf(const xmlNode* paragraphProperties);

} // namespace kestrova::speech::docx
