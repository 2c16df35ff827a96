#pragma once

#include <libxml/xmlstring.h>
#include <string>
#include <string_view>

// libxml2's strings and reports as every XML reader gives them: its text as views, white space
// as XML counts it, and its faults in one wording.
namespace kestrova::speech::xml {

// A string of libxml2's (UTF-8, or nullptr) as a view; nullptr is empty.
std::string_view textOf(const xmlChar* text);

// Text with &, <, > and " as XML's references, to be written into a document as text or an
// attribute's value (libxml2's xmlEncodeSpecialChars).
std::string escaped(std::string_view text);

// Space, tab, line feed and carriage return: XML's white space.
bool isXmlSpace(char c);
std::string_view trimmed(std::string_view text);

// "LINE:COLUMN", both at least 1.
std::string placeOf(int line, int column);

// A reason of libxml2's as messages give it: its limits in our words, and the rest kept on
// one line and cut when long (its messages may quote the document).
std::string parserReason(const char* message);

// The reader's own depth limit, past which it stops reading: "the markup is nested deeper than
// 200 elements".
std::string nestedDeeperThan(int maxDepth);

// Why a document that declares an entity is refused: the declaration could bring in a file or
// multiply itself into gigabytes.
std::string entityDeclaredReason(const xmlChar* name);

// The DTDs a document may name without being refused: the W3C's own (by their public
// identifiers, wherever the document says they lie, or at the W3C), which no reader loads
// (nor is any loaded here). Any other names a file or a server for the DTD, which only an
// attack on a reader that loads it has a reason to.
bool isKnownDtd(std::string_view publicId, std::string_view systemId);
std::string externalDtdReason(const xmlChar* publicId, const xmlChar* systemId);

} // namespace kestrova::speech::xml
