#pragma once

#include <functional>
#include <libxml/tree.h>

// The text a drawing holds: SVG's <text> and <tspan>, as fixed-layout books write their pages.
namespace kestrova::speech::xhtml {

// Hands each text node of the drawing's <text> elements to read, in document order; a <text>
// is a line of the page, so lineEnds is called after each, and paragraphEnds after each group
// (<g>) of lines and at the drawing's end. A <tspan> placed on its own (x or y given) begins a
// word. <title> and <desc> (a tooltip, a description) are not read, nor is anything hidden.
// Returns whether the drawing holds any <text>.
struct SvgTextReading {
    std::function<void(const xmlNode& text)> read;
    std::function<void()> wordEnds;
    std::function<void()> lineEnds;
    std::function<void()> paragraphEnds;
};
bool readSvgText(const xmlNode& svg, const SvgTextReading& reading);

} // namespace kestrova::speech::xhtml
