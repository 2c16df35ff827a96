#include "speech/text/readers/ssml/ssml_xml_parser.h"

#include "speech/base/utf8.h"
#include "speech/speech_error.h"
#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/readers/xml/xml_text.h"

#include <algorithm>
#include <cstddef>
#include <libxml/encoding.h>
#include <libxml/parserInternals.h> // xmlSwitchToEncoding

namespace kestrova::speech::ssml {

namespace {

bool isCharacterStart(char c) {
    return !isContinuationByte(c);
}

// An attribute value as the document gives it. Without entity substitution the parser hands
// over "&amp;" as "&#38;" (and every other reference resolved); a literal "&" cannot occur.
std::string ampersandsDecoded(std::string_view value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t at = 0; at < value.size();) {
        if (value.substr(at, 5) == "&#38;") {
            decoded.push_back('&');
            at += 5;
        } else {
            decoded.push_back(value[at++]);
        }
    }
    return decoded;
}

} // namespace

// The parser stands at the tag's end: no '<' can occur inside a tag, so the nearest one before
// is its beginning. Only the tag is scanned (the input may have been converted from another
// encoding; libxml2's own byte offsets would convert it again at every element).
Place tagStart(const xmlParserInput& input) {
    const auto* base = reinterpret_cast<const char*>(input.base);
    const auto* at = reinterpret_cast<const char*>(input.cur);
    int line = input.line;
    int column = input.col;
    bool crossedLine = false;
    while (at > base && *at != '<') {
        --at;
        if (*at == '\n') {
            --line;
            crossedLine = true;
        } else if (isCharacterStart(*at)) {
            --column;
        }
    }
    if (crossedLine) { // the tag's line began before it: count from that line's start
        const char* lineStart = at;
        while (lineStart > base && lineStart[-1] != '\n')
            --lineStart;
        column = 1 + static_cast<int>(std::count_if(lineStart, at, isCharacterStart));
    }
    return {.line = std::max(line, 1), .column = std::max(column, 1)};
}

std::optional<std::string> attribute(const StartTag& tag, std::string_view name) {
    for (int i = 0; i < tag.attributeCount; ++i) {
        const xmlChar* const* entry = tag.attributes + 5 * static_cast<std::ptrdiff_t>(i);
        if (entry[2] == nullptr && xml::textOf(entry[0]) == name)
            return ampersandsDecoded(
                std::string_view(reinterpret_cast<const char*>(entry[3]),
                                 static_cast<std::size_t>(entry[4] - entry[3])));
    }
    return std::nullopt;
}

std::optional<std::string> xmlLanguage(const StartTag& tag) {
    constexpr std::string_view xmlNamespace = "http://www.w3.org/XML/1998/namespace";
    for (int i = 0; i < tag.attributeCount; ++i) {
        const xmlChar* const* entry = tag.attributes + 5 * static_cast<std::ptrdiff_t>(i);
        if (xml::textOf(entry[2]) == xmlNamespace && xml::textOf(entry[0]) == "lang")
            return ampersandsDecoded(
                std::string_view(reinterpret_cast<const char*>(entry[3]),
                                 static_cast<std::size_t>(entry[4] - entry[3])));
    }
    return std::nullopt;
}

void useEncoding(xmlParserCtxt& context, TextEncoding encoding, const std::string& sourceName) {
    const char* name = namesOf(encoding).parser;
    if (name == nullptr)
        return;
    xmlCharEncodingHandler* handler = xmlFindCharEncodingHandler(name);
    if (handler == nullptr || xmlSwitchToEncoding(&context, handler) != 0)
        throw SpeechError(sourceName + ": the XML parser cannot read " + name);
}

} // namespace kestrova::speech::ssml
