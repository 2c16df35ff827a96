#include "speech/text/readers/xml/xml_text.h"

#include "speech/quoted_name.h"

#include <algorithm>
#include <libxml/entities.h>
#include <memory>

namespace kestrova::speech::xml {

namespace {

struct LimitReason {
    std::string_view parserWords; // what libxml2's message says
    std::string_view reason;      // what the user is told instead
};
// libxml2's own limits, said in our terms: its advice to relax them is for programmers.
const LimitReason limitReasons[] = {
    {"Excessive depth", "the markup is nested deeper than the XML parser allows"},
    {"AttValue length too long", "an attribute value is longer than 10,000,000 bytes"},
    {"huge text node", "a text is longer than 10,000,000 bytes"},
    {"text too long", "a text is longer than 10,000,000 bytes"},
    {"Name too long", "a name is longer than 50,000 bytes"},
    {"Huge input lookup", "a piece of markup is longer than the XML parser allows"},
};

} // namespace

std::string_view textOf(const xmlChar* text) {
    return text == nullptr ? std::string_view{} : reinterpret_cast<const char*>(text);
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string placeOf(int line, int column) {
    return std::to_string(std::max(line, 1)) + ":" + std::to_string(std::max(column, 1));
}

std::string parserReason(const char* message) {
    const std::string_view words = trimmed(message != nullptr ? message : "malformed markup");
    for (const LimitReason& limit : limitReasons)
        if (words.find(limit.parserWords) != std::string_view::npos)
            return std::string(limit.reason);
    std::string_view kept = words.substr(0, words.find("XML_PARSE_HUGE"));
    kept = trimmed(kept.substr(0, kept.find_last_not_of(" ,;:") + 1));
    if (isPlainName(kept) && kept.size() <= 200)
        return std::string(kept);
    const std::string quoted = quotedValue(kept, 200); // escaped, in quotes we take off
    return quoted.front() == '"' ? quoted.substr(1, quoted.size() - 2) : quoted;
}

std::string nestedDeeperThan(int maxDepth) {
    return "the markup is nested deeper than " + std::to_string(maxDepth) + " elements";
}

std::string entityDeclaredReason(const xmlChar* name) {
    return "entity " + quotedValue(textOf(name)) + " is declared; entities are not read";
}

bool isKnownDtd(std::string_view publicId, std::string_view systemId) {
    if (publicId.starts_with("-//W3C//"))
        return true;
    return systemId.empty() || systemId.starts_with("http://www.w3.org/") ||
           systemId.starts_with("https://www.w3.org/") || systemId == "about:legacy-compat";
}

std::string externalDtdReason(const xmlChar* publicId, const xmlChar* systemId) {
    return "the page names the external DTD " +
           quotedValue(textOf(systemId != nullptr ? systemId : publicId)) + ", which is not read";
}

std::string escaped(std::string_view text) {
    struct XmlFree {
        void operator()(xmlChar* text) const { xmlFree(text); }
    };
    const std::string copy(text);
    const std::unique_ptr<xmlChar, XmlFree> encoded(
        xmlEncodeSpecialChars(nullptr, reinterpret_cast<const xmlChar*>(copy.c_str())));
    return encoded ? reinterpret_cast<const char*>(encoded.get()) : std::string();
}

} // namespace kestrova::speech::xml
