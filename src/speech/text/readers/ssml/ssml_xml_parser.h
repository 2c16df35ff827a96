#pragma once

#include "speech/text_encoding.h"

#include <libxml/parser.h>
#include <optional>
#include <string>
#include <string_view>

// The SSML reader's side of libxml2: the encodings it is told to read, and its start tags and
// their places as the reader's faults give them.
namespace kestrova::speech::ssml {

inline constexpr std::string_view ssmlNamespace = "http://www.w3.org/2001/10/synthesis";

// A line and column of the document, both from 1.
struct Place {
    int line = 1;
    int column = 1;
};

// Where the start tag the parser stands at the end of begins (columns in characters, as
// libxml2 counts them).
Place tagStart(const xmlParserInput& input);

// An element's start as the parser hands it over.
struct StartTag {
    std::string_view localName;
    std::string qualifiedName;
    bool ssml = false;
    const xmlChar** attributes = nullptr; // five pointers each: name, prefix, URI, value, end
    int attributeCount = 0;
    Place place;
};

// The value of an attribute in no namespace, as xmlGetNoNsProp finds it.
std::optional<std::string> attribute(const StartTag& tag, std::string_view name);

// The value of xml:lang, the language XML itself gives an element's content.
std::optional<std::string> xmlLanguage(const StartTag& tag);

// Has the parser decode the document in an encoding given on the command line, which wins
// over its byte order mark and declaration; Automatic leaves the choice to the parser.
void useEncoding(xmlParserCtxt& context, TextEncoding encoding, const std::string& sourceName);

} // namespace kestrova::speech::ssml
