#include "speech/text/readers/html/svg_text.h"

#include "speech/text/readers/html/xhtml_elements.h"
#include "speech/text/readers/html/xhtml_page_tree.h"

namespace kestrova::speech::xhtml {

namespace {

bool isLeftOutOfDrawing(const xmlNode& element) {
    const std::string_view name = nameOf(element);
    return name == "title" || name == "desc" || name == "metadata" || name == "style" ||
           name == "script" || name == "defs" || isNeverRead(element);
}

void readLine(const xmlNode& parent, const SvgTextReading& reading) {
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            reading.read(*child);
        } else if (child->type == XML_ELEMENT_NODE && !isLeftOutOfDrawing(*child)) {
            if (attributeOf(*child, "x") || attributeOf(*child, "y"))
                reading.wordEnds();
            readLine(*child, reading);
        }
    }
}

bool readDrawing(const xmlNode& parent, const SvgTextReading& reading) {
    bool any = false;
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || isLeftOutOfDrawing(*child))
            continue;
        if (nameOf(*child) == "text") {
            readLine(*child, reading);
            reading.lineEnds();
            any = true;
        } else if (readDrawing(*child, reading)) {
            any = true;
            if (nameOf(*child) == "g")
                reading.paragraphEnds();
        }
    }
    return any;
}

} // namespace

bool readSvgText(const xmlNode& svg, const SvgTextReading& reading) {
    const bool any = readDrawing(svg, reading);
    if (any)
        reading.paragraphEnds();
    return any;
}

} // namespace kestrova::speech::xhtml
