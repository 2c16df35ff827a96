#include "speech/text/readers/odt/odt_body.h"

#include "speech/text/readers/odt/odt_names.h"
#include "speech/text/readers/office/office_blocks.h"

#include <charconv>
#include <vector>

namespace kestrova::speech::odt {

namespace {

using book_xml::isElement;
using xml::textOf;

bool isIndex(const xmlNode& node) {
    const std::string_view name = textOf(node.name);
    return isText(node, name) &&
           (name == "table-of-content" || name.ends_with("-index") || name == "bibliography");
}

// Containers of blocks: lists and their items, sections.
bool holdsBlocks(const xmlNode& node) {
    return isText(node, "list") || isText(node, "list-item") || isText(node, "list-header") ||
           isText(node, "section");
}

// What a paragraph's inline element is read as, when not as its content.
bool isNeverRead(const xmlNode& node) {
    const std::string_view name = textOf(node.name);
    return (isText(node, name) &&
            (name == "tracked-changes" || name == "hidden-text" || name == "hidden-paragraph" ||
             name == "ruby-text" || name == "note-citation" || name == "sequence-decls")) ||
           isElement(node, officeNamespace, "annotation-end");
}

int outlineLevelOf(const xmlNode& heading) {
    const std::string value = textAttribute(heading, "outline-level").value_or("1");
    int level = 1;
    std::from_chars(value.data(), value.data() + value.size(), level);
    return level > 0 ? level : 1;
}

// A frame's alternative text: its svg:title, else its svg:desc.
std::string alternativeOf(const xmlNode& frame) {
    for (const char* name : {"title", "desc"})
        if (const xmlNode* found = book_xml::child(frame, svgNamespace, name))
            if (std::string text = book_xml::textOf(*found); !text.empty())
                return text;
    return {};
}

class BodyReader {
public:
    BodyReader(const OdtParts& parts, const DocumentOptions& options, DocumentSink& sink,
               int chapterLevel)
        : parts_(parts), options_(options), blocks_(sink, options, parts.document, chapterLevel) {}

    void blockLevel(const xmlNode& parent) {
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
            if (child->type != XML_ELEMENT_NODE || isNeverRead(*child))
                continue;
            if (isText(*child, "p"))
                paragraph(*child, 0);
            else if (isText(*child, "h"))
                paragraph(*child, outlineLevelOf(*child));
            else if (holdsBlocks(*child))
                blockLevel(*child);
            else if (isElement(*child, tableNamespace, "table"))
                table(*child);
            else if (isIndex(*child))
                blocks_.leftOut(LeftOut::Navigation);
            else if (isElement(*child, drawNamespace, "frame") ||
                     isElement(*child, drawNamespace, "a"))
                endAfter([&] { inlineLevel(*child, {}); });
        }
    }

private:
    template <typename Reading> void endAfter(Reading reading, int level = 0) {
        reading();
        blocks_.end(parts_.entry, level);
        readPendingNotes();
    }

    void paragraph(const xmlNode& paragraph, int level) {
        endAfter([&] { inlineLevel(paragraph, paragraphLanguage(paragraph)); }, level);
    }

    std::string paragraphLanguage(const xmlNode& paragraph) const {
        return parts_.styles.language("paragraph",
                                      textAttribute(paragraph, "style-name").value_or(""));
    }

    void table(const xmlNode& table) {
        for (const xmlNode* child = table.children; child != nullptr; child = child->next) {
            if (isElement(*child, tableNamespace, "table-row"))
                endAfter([&] { cells(*child); });
            else if (child->type == XML_ELEMENT_NODE && child->ns != nullptr &&
                     textOf(child->ns->href) == tableNamespace)
                this->table(*child); // header rows, row groups
        }
    }

    void cells(const xmlNode& row) {
        for (const xmlNode* cell = row.children; cell != nullptr; cell = cell->next) {
            if (!isElement(*cell, tableNamespace, "table-cell"))
                continue;
            blocks_.text().separateCell();
            inlineBlocks(*cell);
        }
    }

    // Paragraphs read into the block being gathered (a cell's, a text box's), apart as words.
    void inlineBlocks(const xmlNode& parent) {
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
            if (isText(*child, "p") || isText(*child, "h")) {
                inlineLevel(*child, paragraphLanguage(*child));
                blocks_.text().separate();
            } else if (holdsBlocks(*child) || isElement(*child, tableNamespace, "table") ||
                       isElement(*child, tableNamespace, "table-row") ||
                       isElement(*child, tableNamespace, "table-cell")) {
                inlineBlocks(*child);
            }
        }
    }

    void inlineLevel(const xmlNode& parent, const std::string& language) {
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
            if (child->type == XML_TEXT_NODE)
                blocks_.text().append(textOf(child->content), language,
                                      parts_.content.placesOf(child));
            else if (child->type == XML_ELEMENT_NODE && !isNeverRead(*child))
                element(*child, language);
        }
    }

    void element(const xmlNode& element, const std::string& language) {
        const std::string_view name = textOf(element.name);
        if (isText(element, "s") || isText(element, "tab") || isText(element, "line-break"))
            blocks_.text().separate();
        else if (isText(element, "span"))
            inlineLevel(element, spanLanguage(element, language));
        else if (isText(element, "note") || isElement(element, officeNamespace, "annotation"))
            note(element);
        else if (isElement(element, drawNamespace, "frame"))
            frame(element, language);
        else if (isElement(element, drawNamespace, "text-box"))
            inlineBlocks(element);
        else if (isText(element, name) || isElement(element, drawNamespace, "a"))
            inlineLevel(element, language); // links, fields, ruby bases: their text
    }

    std::string spanLanguage(const xmlNode& span, const std::string& around) const {
        const std::string own =
            parts_.styles.language("text", textAttribute(span, "style-name").value_or(""));
        return own.empty() ? around : own;
    }

    void frame(const xmlNode& frame, const std::string& language) {
        bool image = false;
        for (const xmlNode* child = frame.children; child != nullptr; child = child->next) {
            if (isElement(*child, drawNamespace, "text-box")) {
                blocks_.text().separate();
                inlineBlocks(*child);
            }
            image = image || isElement(*child, drawNamespace, "image");
        }
        if (!image)
            return;
        if (options_.readAlt) {
            blocks_.text().separate();
            blocks_.text().appendUnplaced(alternativeOf(frame), language);
            blocks_.text().separate();
        }
        blocks_.leftOut(LeftOut::Image);
    }

    // A note or an annotation is read after its block, its citation (the mark) never.
    void note(const xmlNode& note) {
        if (!options_.readNotes)
            blocks_.leftOut(LeftOut::Note);
        else if (!readingNotes_)
            pending_.push_back(&note);
    }

    void readPendingNotes() {
        if (pending_.empty())
            return;
        readingNotes_ = true;
        for (const xmlNode* note : std::exchange(pending_, {})) {
            const xmlNode* body = book_xml::child(*note, textNamespace, "note-body");
            blockLevel(body != nullptr ? *body : *note);
        }
        readingNotes_ = false;
    }

    const OdtParts& parts_;
    const DocumentOptions& options_;
    OfficeBlocks blocks_;
    std::vector<const xmlNode*> pending_; // notes held in this block
    bool readingNotes_ = false;
};

// The lowest outline level of the text's headings: the level whose headings are chapters.
void seeLevels(const xmlNode& parent, TopLevel& levels) {
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
        if (isText(*child, "h"))
            levels.see(outlineLevelOf(*child));
        else if (holdsBlocks(*child))
            seeLevels(*child, levels);
    }
}

const xmlNode* officeText(const xmlNode& root) {
    const xmlNode* body = book_xml::child(root, officeNamespace, "body");
    return body != nullptr ? book_xml::child(*body, officeNamespace, "text") : nullptr;
}

} // namespace

void readOdtBody(const OdtParts& parts, const DocumentOptions& options, DocumentSink& sink) {
    const xmlNode* text = officeText(*parts.content.root());
    if (text == nullptr)
        return;
    TopLevel levels;
    seeLevels(*text, levels);
    BodyReader(parts, options, sink, levels.lowest()).blockLevel(*text);
}

} // namespace kestrova::speech::odt
