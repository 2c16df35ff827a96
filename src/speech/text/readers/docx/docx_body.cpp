#include "speech/text/readers/docx/docx_body.h"

#include "speech/base/utf8.h"
#include "speech/text/readers/docx/docx_names.h"
#include "speech/text/readers/office/office_blocks.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace kestrova::speech::docx {

namespace {

using xml::textOf;

// The part that holds a reference's note, by the reference's name.
std::optional<NoteKind> referenceKind(std::string_view name) {
    if (name == "footnoteReference")
        return NoteKind::Footnote;
    if (name == "endnoteReference")
        return NoteKind::Endnote;
    if (name == "commentReference")
        return NoteKind::Comment;
    return std::nullopt;
}

// Elements that hold paragraphs or runs as their own content: content controls, custom XML,
// smart tags, tracked insertions and moves to here.
bool isWrapper(const xmlNode& node) {
    return isWord(node, "customXml") || isWord(node, "ins") || isWord(node, "moveTo") ||
           isWord(node, "smartTag") || isWord(node, "hyperlink") || isWord(node, "fldSimple") ||
           isWord(node, "dir") || isWord(node, "bdo");
}

// A symbol's character (w:sym w:char, in hexadecimal); none for those of symbol fonts' private
// area, which stand for glyphs and not for characters.
std::string symbolText(const xmlNode& symbol) {
    const std::string hex = wordAttribute(symbol, "char").value_or("");
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    if (error != std::errc() || end != hex.data() + hex.size() || value == 0 ||
        (value >= 0xE000 && value <= 0xF8FF) || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return {};
    return encodeUtf8(static_cast<char32_t>(value));
}

// A drawing's alternative text: its docPr's description, else its title (a VML shape's alt).
std::string alternativeOf(const xmlNode& drawing) {
    std::string alternative;
    book_xml::forEachElement(drawing, [&](const xmlNode& node) {
        const std::string_view name = textOf(node.name);
        if (name == "docPr")
            alternative = book_xml::attribute(node, "descr").value_or("");
        if (name == "docPr" && alternative.empty())
            alternative = book_xml::attribute(node, "title").value_or("");
        if (name == "shape" && alternative.empty())
            alternative = book_xml::attribute(node, "alt").value_or("");
        return alternative.empty();
    });
    return alternative;
}

class BodyReader {
public:
    BodyReader(const DocxParts& parts, const DocumentOptions& options, DocumentSink& sink,
               int chapterLevel)
        : parts_(parts), options_(options), blocks_(sink, options, parts.document, chapterLevel),
          tree_(&parts.body), source_(&parts.entry) {}

    void blockLevel(const xmlNode& parent) {
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
            if (isWord(*child, "p"))
                paragraph(*child);
            else if (isWord(*child, "tbl"))
                table(*child);
            else if (const xmlNode* content = contentOf(*child))
                blockLevel(*content);
        }
    }

    int levelOf(const xmlNode& paragraph) const {
        const xmlNode* properties = wordChild(paragraph, "pPr");
        const int own = outlineLevelOf(properties);
        return own > 0
                   ? own
                   : parts_.styles.headingLevel(propertyValue(properties, "pStyle").value_or(""));
    }

    // What a content control or a wrapper holds; nullptr for anything else (deletions too).
    static const xmlNode* contentOf(const xmlNode& node) {
        if (isWord(node, "sdt"))
            return wordChild(node, "sdtContent");
        return isWrapper(node) ? &node : nullptr;
    }

private:
    void paragraph(const xmlNode& paragraph) {
        paragraphText(paragraph);
        blocks_.end(*source_, levelOf(paragraph));
        readPendingNotes();
    }

    void paragraphText(const xmlNode& paragraph) {
        const xmlNode* properties = wordChild(paragraph, "pPr");
        inlineLevel(paragraph,
                    parts_.styles.language(propertyValue(properties, "pStyle").value_or("")));
    }

    void table(const xmlNode& table) {
        for (const xmlNode* row = table.children; row != nullptr; row = row->next) {
            if (isWord(*row, "tr")) {
                cells(*row);
                blocks_.end(*source_);
                readPendingNotes();
            } else if (const xmlNode* content = contentOf(*row)) {
                this->table(*content);
            }
        }
    }

    // A row's cells joined as one block; a table inside a cell is read into it.
    void cells(const xmlNode& parent) {
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
            if (isWord(*child, "tc")) {
                blocks_.text().separateCell();
                cells(*child);
            } else if (isWord(*child, "p")) {
                paragraphText(*child);
                blocks_.text().separate();
            } else if (isWord(*child, "tbl") || isWord(*child, "tr")) {
                cells(*child);
            } else if (const xmlNode* content = contentOf(*child)) {
                cells(*content);
            }
        }
    }

    void inlineLevel(const xmlNode& parent, const std::string& language) {
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
            if (isWord(*child, "r"))
                run(*child, language);
            else if (textOf(child->name) == "oMath" || textOf(child->name) == "oMathPara")
                formula(*child, language);
            else if (const xmlNode* content = contentOf(*child))
                inlineLevel(*content, language);
        }
    }

    void run(const xmlNode& run, const std::string& paragraphLanguage) {
        const xmlNode* properties = wordChild(run, "rPr");
        const std::string style = propertyValue(properties, "rStyle").value_or("");
        const bool hidden = isOn(properties, "vanish") || parts_.styles.hides(style);
        std::string language = propertyValue(properties, "lang").value_or("");
        if (language.empty())
            language = parts_.styles.language(style);
        if (language.empty())
            language = paragraphLanguage;
        for (const xmlNode* child = run.children; child != nullptr; child = child->next) {
            if (isWord(*child, "fldChar"))
                field(wordAttribute(*child, "fldCharType").value_or(""));
            else if (!hidden && !inInstruction())
                piece(*child, language);
        }
    }

    // A field reads as its result, between its separator and its end; its instruction, from
    // its beginning to the separator, is never read.
    void field(const std::string& type) {
        if (type == "begin")
            fields_.push_back(true);
        else if (type == "separate" && !fields_.empty())
            fields_.back() = false;
        else if (type == "end" && !fields_.empty())
            fields_.pop_back();
    }

    bool inInstruction() const { return std::ranges::find(fields_, true) != fields_.end(); }

    void piece(const xmlNode& piece, const std::string& language) {
        xhtml::BlockText& text = blocks_.text();
        const std::string_view name = textOf(piece.name);
        if (isWord(piece, "t")) {
            for (const xmlNode* node = piece.children; node != nullptr; node = node->next)
                if (node->type == XML_TEXT_NODE)
                    text.append(textOf(node->content), language, tree_->placesOf(node));
        } else if (isWord(piece, "tab") || isWord(piece, "ptab") || isWord(piece, "cr") ||
                   (isWord(piece, "br") && wordAttribute(piece, "type").value_or("") != "page")) {
            text.separate();
        } else if (isWord(piece, "noBreakHyphen")) {
            text.appendUnplaced("-", language);
        } else if (isWord(piece, "sym")) {
            text.appendUnplaced(symbolText(piece), language);
        } else if (const std::optional<NoteKind> kind = referenceKind(name);
                   kind && isWord(piece, name)) {
            note(*kind, wordAttribute(piece, "id").value_or(""));
        } else if (isWord(piece, "drawing") || isWord(piece, "pict") ||
                   name == "AlternateContent") {
            drawing(piece, language);
        }
    }

    void formula(const xmlNode& formula, const std::string& language) {
        blocks_.text().separate();
        book_xml::forEachElement(formula, [&](const xmlNode& node) {
            if (textOf(node.name) == "t")
                for (const xmlNode* at = node.children; at != nullptr; at = at->next)
                    if (at->type == XML_TEXT_NODE)
                        blocks_.text().append(textOf(at->content), language, tree_->placesOf(at));
            return true;
        });
        blocks_.text().separate();
    }

    // A text box is read in place, as words of the paragraph; any other drawing is an image.
    // Of a drawing given twice (markup compatibility's choice and its fallback), the first.
    void drawing(const xmlNode& drawing, const std::string& language) {
        const xmlNode* textBox = nullptr;
        const xmlNode* first = drawing.children;
        while (first != nullptr && first->type != XML_ELEMENT_NODE)
            first = first->next;
        const xmlNode& chosen =
            textOf(drawing.name) == "AlternateContent" && first != nullptr ? *first : drawing;
        book_xml::forEachElement(chosen, [&](const xmlNode& node) {
            textBox = isWord(node, "txbxContent") ? &node : nullptr;
            return textBox == nullptr;
        });
        if (textBox == nullptr)
            return image(chosen, language);
        blocks_.text().separate();
        cells(*textBox);
    }

    void image(const xmlNode& drawing, const std::string& language) {
        if (options_.readAlt) {
            const std::string alternative = alternativeOf(drawing);
            blocks_.text().separate();
            blocks_.text().appendUnplaced(alternative, language);
            blocks_.text().separate();
        }
        blocks_.leftOut(LeftOut::Image);
    }

    // A note is read after the block that refers to it, its mark not at all.
    void note(NoteKind kind, std::string id) {
        if (!options_.readNotes)
            blocks_.leftOut(LeftOut::Note);
        else if (!readingNotes_)
            pending_.emplace_back(kind, std::move(id));
    }

    void readPendingNotes() {
        if (pending_.empty())
            return;
        readingNotes_ = true;
        const std::vector<std::pair<NoteKind, std::string>> pending = std::exchange(pending_, {});
        const std::vector<bool> fields = std::exchange(fields_, {});
        for (const auto& [kind, id] : pending) {
            const NotePart& part = parts_.notes(kind);
            const auto found = part.byId.find(id);
            if (found == part.byId.end())
                continue;
            tree_ = &*part.tree;
            source_ = &part.entry;
            blockLevel(*found->second);
            fields_.clear();
        }
        tree_ = &parts_.body;
        source_ = &parts_.entry;
        fields_ = fields;
        readingNotes_ = false;
    }

    const DocxParts& parts_;
    const DocumentOptions& options_;
    OfficeBlocks blocks_;
    const xhtml::PageTree* tree_; // the part being read, for the places of its text
    const std::string* source_;   // ... and its entry
    std::vector<bool> fields_;    // the fields open here: true while in the instruction
    std::vector<std::pair<NoteKind, std::string>> pending_; // referred to in this block
    bool readingNotes_ = false;
};

// The lowest outline level of the body's headings: the level whose headings are chapters.
int topLevelOf(const xmlNode& parent, const BodyReader& reader, TopLevel& levels) {
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
        if (isWord(*child, "p"))
            levels.see(reader.levelOf(*child));
        else if (const xmlNode* content = BodyReader::contentOf(*child))
            topLevelOf(*content, reader, levels);
    }
    return levels.lowest();
}

} // namespace

void readDocxBody(const DocxParts& parts, const DocumentOptions& options, DocumentSink& sink) {
    const xmlNode* body = wordChild(*parts.body.root(), "body");
    if (body == nullptr)
        return;
    TopLevel levels;
    const int chapterLevel = topLevelOf(*body, BodyReader(parts, options, sink, 0), levels);
    BodyReader(parts, options, sink, chapterLevel).blockLevel(*body);
}

} // namespace kestrova::speech::docx
