#pragma once

#include <libxml/tree.h>
#include <set>
#include <string>

// What a MathML formula says to a listener, read in the order its text is written.
namespace kestrova::speech::xhtml {

struct FormulaSpeech {
    std::string text; // empty: the formula says nothing
    // Read by its tokens alone: elements that have no words, by their names...
    std::set<std::string> unsaid;
    // ... or a language with no words here: its identifiers, numbers and operators as written.
    bool tokensOnly = false;
};

// The formula's alttext where its author gave one; else its tokens with English words for
// English (language empty or "en"): "x squared plus 2", "a over b", "the square root of x",
// "x sub i"; a <semantics> by its presentation, never its annotations; a table row by row.
FormulaSpeech formulaSpeech(const xmlNode& math, const std::string& language);

} // namespace kestrova::speech::xhtml
