#include "speech/text/readers/html/xhtml_blocks.h"

#include "speech/base/clean_text.h"
#include "speech/base/scene_break.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/readers/html/mathml_speech.h"
#include "speech/text/readers/html/svg_text.h"
#include "speech/text/readers/html/xhtml_block_text.h"
#include "speech/text/readers/html/xhtml_elements.h"
#include "speech/text/readers/html/xhtml_note_targets.h"
#include "speech/text/readers/html/xhtml_page_tree.h"

#include <set>

namespace kestrova::speech {

namespace {

using namespace xhtml;

// The page as its failures name it, NAME:LINE as compilers write it: bare when plain, else
// quoted, and cut, as a book's entry may be named anything.
std::string shownPage(const std::string& pageName) {
    return shownValue(pageName, longestDocumentName);
}

// NAME:LINE: REASON, as the SSML reader and compilers write it.
[[noreturn]] void throwPageFault(const std::string& pageName, const PageFault& fault) {
    throw FileError(shownPage(pageName) +
                    (fault.line > 0 ? ":" + std::to_string(fault.line) : std::string()) + ": " +
                    fault.reason);
}

PageTree parsedPage(const XhtmlPage& page, const std::atomic<bool>* cancel = nullptr) {
    try {
        return PageTree(page.bytes, page.html, cancel);
    } catch (const PageFault& fault) {
        throwPageFault(page.name, fault);
    }
}

// The language an element sets for what it holds, cleaned as the document's own is; XHTML's
// xml:lang wins over lang.
std::string languageIn(const xmlNode& element, const std::string& around) {
    if (std::optional<std::string> language = attributeOf(element, "xml:lang"))
        return cleanText(*language);
    if (std::optional<std::string> language = attributeOf(element, "lang"))
        return cleanText(*language);
    return around;
}

bool isWhiteSpaceText(const xmlNode& node) {
    return textOf(node.content).find_first_not_of(" \t\r\n\f") == std::string_view::npos;
}

// The link a block begins with, inside the inline elements it begins with; nullptr: it begins
// with text or something else.
const xmlNode* leadingLink(const xmlNode& block) {
    const xmlNode* node = block.children;
    for (int depth = 0; node != nullptr && depth < 4;) {
        if ((node->type == XML_TEXT_NODE && isWhiteSpaceText(*node)) ||
            node->type == XML_COMMENT_NODE)
            node = node->next;
        else if (node->type != XML_ELEMENT_NODE || isBlockElement(nameOf(*node)))
            return nullptr;
        else if (nameOf(*node) == "a")
            return node;
        else {
            node = node->children;
            ++depth;
        }
    }
    return nullptr;
}

// Walks one page's tree in document order, gathering each block's text and handing it to the
// sink as the block ends.
class PageReader {
public:
    PageReader(const XhtmlPage& page, const DocumentOptions& options, DocumentSink& sink,
               const PageTree& tree, PageWarnings& warnings)
        : page_(page), options_(options), sink_(sink), tree_(tree), warnings_(warnings),
          marksReferences_(marksNoteReferences(*tree.root())) {}

    void read() {
        if (const auto start = page_.chaptersAt.find(""); start != page_.chaptersAt.end())
            beginChapter("", start->second);
        element(*tree_.root(), page_.language);
        endBlock();
        // An id the page does not hold still begins its chapter, where the page ends, so that
        // the book keeps every chapter its table of contents names.
        for (const auto& [id, title] : page_.chaptersAt)
            if (!begun_.contains(id) && page_.chapterOrder.empty())
                beginMissing(id, title);
        for (const std::string& id : page_.chapterOrder)
            if (const auto found = page_.chaptersAt.find(id);
                found != page_.chaptersAt.end() && !begun_.contains(id))
                beginMissing(id, found->second);
    }

private:
    void beginMissing(const std::string& id, const std::string& title) {
        warnings_.missingId(page_.name, id, title);
        beginChapter(id, title);
    }

    void children(const xmlNode& parent, const std::string& language) {
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
            if (child->type == XML_ELEMENT_NODE)
                element(*child, language);
            else if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
                block_.append(textOf(child->content), language, tree_.placesOf(child));
            else if (child->type == XML_ENTITY_REF_NODE)
                entity(textOf(child->name), language);
        }
    }

    // A named reference the page does not declare (nor may): HTML's own, as the XHTML DTDs
    // that pages name declare them; any other is passed over.
    void entity(std::string_view name, const std::string& language) {
        const std::string text = entityText(name);
        if (!text.empty())
            block_.appendUnplaced(text, language);
        else if (unknownEntities_.emplace(name).second)
            warnings_.unknownEntity(page_.name, name);
    }

    void element(const xmlNode& element, const std::string& around) {
        beginChapterAt(element);
        if (isLeftOut(element)) {
            if (options_.readAlt && isImage(element))
                readAlternative(element, languageIn(element, around));
            tellLeftOut(element);
            beginChaptersWithin(element);
            return;
        }
        const std::string language = languageIn(element, around);
        const std::string_view name = nameOf(element);
        if (name == "math" || name == "svg") {
            readFigure(element, language);
            return;
        }
        if (name == "br") {
            breakBlock();
            return;
        }
        const bool block = isBlockElement(name);
        const bool chapterHeading =
            page_.headingsAreChapters && isChapterHeading(name) && headingDepth_ == 0;
        if (block)
            breakBlock();
        if (name == "td" || name == "th")
            block_.separateCell();
        headingDepth_ += chapterHeading ? 1 : 0;
        children(element, language);
        if (chapterHeading) {
            --headingDepth_;
            if (!block_.empty() && !chapterOpen_)
                beginChapter({}, block_.text());
        }
        if (block)
            breakBlock();
    }

    void readAlternative(const xmlNode& element, const std::string& language) {
        if (const std::optional<std::string> alternative = alternativeText(element)) {
            block_.separate();
            block_.appendUnplaced(*alternative, language);
            block_.separate();
        }
    }

    // A formula is read inside its sentence; a drawing by its text, its lines joined as a
    // paragraph's; a drawing without text is an image.
    void readFigure(const xmlNode& element, const std::string& language) {
        if (nameOf(element) == "math") {
            const FormulaSpeech speech = formulaSpeech(element, language);
            if (speech.tokensOnly || !speech.unsaid.empty())
                warnings_.simplifiedFormula(speech.unsaid, speech.tokensOnly);
            block_.beginInline();
            block_.appendUnplaced(speech.text, language);
            block_.separateInline();
        } else {
            const auto separate = [this] {
                block_.separate();
            };
            const bool drawn =
                readSvgText(element, {.read =
                                          [&](const xmlNode& text) {
                                              block_.append(textOf(text.content), language,
                                                            tree_.placesOf(&text));
                                          },
                                      .wordEnds = separate,
                                      .lineEnds = separate,
                                      .paragraphEnds =
                                          [this] {
                                              breakBlock();
                                          }});
            if (!drawn && options_.readAlt)
                readAlternative(element, language);
            if (!drawn)
                sink_.leftOut(LeftOut::Image);
        }
        beginChaptersWithin(element);
    }

    void tellLeftOut(const xmlNode& element) {
        if (isImage(element))
            sink_.leftOut(LeftOut::Image);
        else if (nameOf(element) == "nav")
            sink_.leftOut(LeftOut::Navigation);
        else if (!isNeverRead(element))
            sink_.leftOut(LeftOut::Note);
    }

    bool isLeftOut(const xmlNode& element) {
        if (isNeverRead(element))
            return true;
        if (options_.readNotes)
            return false;
        return isNoteReference(element, false) || (!marksReferences_ && leadsToNote(element)) ||
               isMarkedNoteBody(element) || isNoteTarget(element) ||
               (isBlockElement(nameOf(element)) && startsWithNoteLabel(element));
    }

    // A link whose text is only a number or a mark is a note reference when it leads to a
    // note; one to a page, a chapter or an entry elsewhere is read as its number.
    bool leadsToNote(const xmlNode& element) {
        if (nameOf(element) != "a" || !isNoteMarkText(shortTextOf(element, 24)))
            return false;
        const auto target = linkTarget(element, page_.name);
        if (!target)
            return false;
        if (page_.bookNotes) {
            const IdsByPage& notes = page_.bookNotes();
            const auto found = notes.find(target->first);
            return found != notes.end() && found->second.contains(target->second);
        }
        if (target->first != page_.name)
            return false;
        if (page_.noteIds.contains(target->second))
            return true;
        if (!pageNotes_)
            pageNotes_ = noteLikeIds(*tree_.root());
        return pageNotes_->contains(target->second);
    }

    // An element that the book's note references point at, though it carries no mark of a
    // note; not one that begins a chapter or looks like a part of the book's own text.
    bool isNoteTarget(const xmlNode& element) const {
        if (page_.noteIds.empty())
            return false;
        const std::string id = idOf(element);
        return !id.empty() && page_.noteIds.contains(id) && !page_.chaptersAt.contains(id) &&
               mayBeNote(element);
    }

    // A block that begins with the label a note reference points at ("<p><a id="n3">3</a>
    // The note...") is the note: EPUB 2 books mark their notes no other way.
    bool startsWithNoteLabel(const xmlNode& block) const {
        if (page_.noteIds.empty())
            return false;
        const xmlNode* label = leadingLink(block);
        return label != nullptr && page_.noteIds.contains(idOf(*label)) &&
               isNoteMarkText(shortTextOf(*label, 24));
    }

    void beginChapterAt(const xmlNode& element) {
        if (page_.chaptersAt.empty())
            return;
        const std::string id = idOf(element);
        if (const auto found = page_.chaptersAt.find(id);
            !id.empty() && found != page_.chaptersAt.end() && !begun_.contains(id)) {
            if (headingDepth_ == 0)
                endBlock();
            beginChapter(id, found->second);
        }
    }

    // A chapter that begins inside what is left out begins there all the same.
    void beginChaptersWithin(const xmlNode& parent) {
        if (page_.chaptersAt.empty())
            return;
        for (const xmlNode* child = parent.children; child != nullptr; child = child->next)
            if (child->type == XML_ELEMENT_NODE) {
                beginChapterAt(*child);
                beginChaptersWithin(*child);
            }
    }

    void beginChapter(const std::string& id, const std::string& title) {
        if (!id.empty() || page_.chaptersAt.contains(id))
            begun_.insert(id);
        sink_.chapter(cleanText(title));
        chapterOpen_ = true;
    }

    // Inside a heading that titles a chapter, the heading stays one block (its title).
    void breakBlock() {
        if (headingDepth_ > 0)
            block_.separate();
        else
            endBlock();
    }

    void endBlock() {
        if (block_.empty())
            return;
        if (isSceneBreak(block_.text())) {
            block_.take();
            return;
        }
        sink_.block({.runs = block_.take(), .source = page_.name, .page = {}});
        chapterOpen_ = false;
        if (options_.cancel != nullptr && options_.cancel->load())
            throw ConversionCancelled(shownPage(page_.name) + ": the reading was cancelled");
    }

    const XhtmlPage& page_;
    const DocumentOptions& options_;
    DocumentSink& sink_;
    const PageTree& tree_;
    PageWarnings& warnings_;
    const bool marksReferences_; // then links are note references only by their marks
    BlockText block_;
    std::set<std::string> begun_;                        // the chapters of chaptersAt begun so far
    std::set<std::string, std::less<>> unknownEntities_; // told of once each
    std::optional<std::set<std::string>> pageNotes_;     // without bookNotes, once a link asks
    bool chapterOpen_ = false; // a chapter has begun and no block followed yet
    int headingDepth_ = 0;     // inside a heading that titles a chapter
};

// Gathers the targets of the note references, leaving out navigation (its links are no notes),
// the notes themselves and a link that begins its block: a note's label, which leads back to
// the reference. (A reference that begins a paragraph is passed over too: its note is then
// read, where the paragraph would otherwise be taken for a note.)
void gatherNoteTargets(const xmlNode& parent, const std::string& pageName, bool byMarkText,
                       std::set<std::pair<std::string, std::string>>& targets,
                       const xmlNode* label = nullptr) {
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || isNeverRead(*child) || isMarkedNoteBody(*child))
            continue;
        if (isNoteReference(*child, byMarkText)) {
            if (auto target = linkTarget(*child, pageName); target && child != label)
                targets.insert(std::move(*target));
            continue;
        }
        gatherNoteTargets(*child, pageName, byMarkText, targets,
                          isBlockElement(nameOf(*child)) ? leadingLink(*child) : label);
    }
}

} // namespace

void readXhtmlPage(const XhtmlPage& page, const DocumentOptions& options, DocumentSink& sink,
                   PageWarnings& warnings) {
    if (options.cancel != nullptr && options.cancel->load())
        throw ConversionCancelled(shownPage(page.name) + ": the reading was cancelled");
    const PageTree tree = parsedPage(page, options.cancel);
    if (const std::optional<PageFault>& fault = tree.malformedAs())
        warnings.readAsHtml(page.name, fault->line, fault->reason);
    PageReader(page, options, sink, tree, warnings).read();
}

void readXhtmlPage(const XhtmlPage& page, const DocumentOptions& options, DocumentSink& sink) {
    PageWarnings warnings(options.warning);
    readXhtmlPage(page, options, sink, warnings);
    warnings.tellUntold(quotedValue(page.name, longestDocumentName) + ": ");
}

PageNotes notesOf(const XhtmlPage& page) {
    const PageTree tree = parsedPage(page);
    PageNotes notes;
    gatherNoteTargets(*tree.root(), page.name, !marksNoteReferences(*tree.root()), notes.targets);
    notes.noteLikeIds = noteLikeIds(*tree.root());
    return notes;
}

std::set<std::pair<std::string, std::string>> noteTargetsOf(const XhtmlPage& page) {
    return notesOf(page).targets;
}

IdsByPage noteBodies(const IdsByPage& targets, const IdsByPage& noteLikeIds) {
    IdsByPage bodies;
    for (const auto& [page, ids] : targets) {
        const auto noteLike = noteLikeIds.find(page);
        if (noteLike == noteLikeIds.end())
            continue;
        for (const std::string& id : ids)
            if (noteLike->second.contains(id))
                bodies[page].insert(id);
    }
    return bodies;
}

} // namespace kestrova::speech
