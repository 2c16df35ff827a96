#pragma once

#include "speech/text_encoding.h"

#include <libxml/parser.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The SSML reader's side of libxml2: its parser context, the encodings it is told to read,
// and its places and messages as the reader's faults give them.
namespace kestrova::speech::ssml {

struct ParserContextFree {
    void operator()(xmlParserCtxt* context) const;
};
using ParserContextOwner = std::unique_ptr<xmlParserCtxt, ParserContextFree>;

inline constexpr std::string_view ssmlNamespace = "http://www.w3.org/2001/10/synthesis";

std::string_view textOf(const xmlChar* text);

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

// "LINE:COLUMN", both at least 1.
std::string placeOf(int line, int column);

// A reason of libxml2's as messages give it: its limits in our words, and the rest kept on
// one line and cut when long (its messages may quote the document).
std::string parserReason(const char* message);

// Has the parser decode the document in an encoding given on the command line, which wins
// over its byte order mark and declaration; Automatic leaves the choice to the parser.
void useEncoding(xmlParserCtxt& context, TextEncoding encoding, const std::string& sourceName);

} // namespace kestrova::speech::ssml
