#include "speech/text/readers/markdown/markdown_document.h"

#include "speech/base/clean_text.h"
#include "speech/base/scene_break.h"
#include "speech/quoted_name.h"
#include "speech/text/readers/markdown/cmark_nodes.h"
#include "speech/text/readers/markdown/line_starts.h"
#include "speech/text/readers/markdown/markdown_sections.h"
#include "speech/text/readers/markdown/markdown_source.h"
#include "speech/text/readers/markdown/run_builder.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::speech {
namespace {

using namespace markdown;

class MarkdownDocument final : public StructuredDocument {
public:
    MarkdownDocument(std::string bytes, std::string name, const DocumentOptions& options)
        : name_(std::move(name)), options_(options),
          source_(checkedSource(std::move(bytes), name_, options_)), lines_(source_.text),
          sections_(sectionsOf(source_, name_, options_)) {
        metadata_ = source_.frontMatter;
        std::size_t htmlBlocks = 0;
        eachSection([&](cmark_node* root) { htmlBlocks += survey(root); });
        cleanMetadata(metadata_);
        if (htmlBlocks > 0 && options_.warning)
            options_.warning(quotedName(name_) + ": " + std::to_string(htmlBlocks) +
                             " HTML block(s) left out: raw HTML is not read aloud");
    }

    const DocumentMetadata& metadata() const override { return metadata_; }

    void read(DocumentSink& sink) override {
        // The tree is made anew for each reading, and lives only while it is read: it takes
        // several times the text's memory, which the rendering after it can use.
        eachSection([&](cmark_node* root) {
            walk(root, [&](cmark_node* node, int depth) {
                return !isBorrowed(node, depth) && readBlock(node, sink);
            });
        });
    }

private:
    static std::vector<MarkdownSection> sectionsOf(const MarkdownSource& source,
                                                   const std::string& name,
                                                   const DocumentOptions& options) {
        MarkdownSections cut = markdownSections(source.text);
        checkCancelled(options, name);
        if (cut.fault)
            refuse(name, "line " + std::to_string(cut.fault->line + source.firstLine - 1) + ": " +
                             cut.fault->reason);
        return std::move(cut.sections);
    }

    // Parses each section in turn, the cancel flag looked at before each, and hands its tree
    // to use; the tree lives only while it is used.
    template <typename Use> void eachSection(Use&& use) {
        for (const MarkdownSection& section : sections_) {
            checkCancel();
            section_ = &section;
            std::string_view text =
                std::string_view(source_.text).substr(section.begin, section.end - section.begin);
            std::string withDefinitions;
            if (!section.definitions.empty()) {
                withDefinitions.append(text).append("\n\n").append(section.definitions);
                text = withDefinitions;
            }
            const NodeHandle root = parse(text);
            use(root.get());
        }
        section_ = nullptr;
    }

    // A block of another section's, parsed after this one's own text for the definitions it
    // holds: read where it stands, but for a footnote this section refers to.
    bool isBorrowed(cmark_node* node, int depth) const {
        return depth == 1 && inDefinitions(node) &&
               cmark_node_get_type(node) != CMARK_NODE_FOOTNOTE_DEFINITION;
    }

    // A node of the definitions parsed after a section's own text, whose places are elsewhere.
    bool inDefinitions(cmark_node* node) const {
        return section_ != nullptr && cmark_node_get_start_line(node) > section_->lines;
    }

    // The text's byte at cmark's line and column in the section being read.
    std::size_t offsetOf(int line, int column) const {
        return lines_.offsetOf(line + (section_ != nullptr ? section_->firstLine - 1 : 0), column);
    }

    // Checks the depth, finds the title, counts the HTML blocks passed over.
    std::size_t survey(cmark_node* root);
    bool readBlock(cmark_node* node, DocumentSink& sink);
    void readHeading(cmark_node* node, DocumentSink& sink);
    void appendHeading(cmark_node* node, RunBuilder& run, bool readAlt) const;
    void readTableRow(cmark_node* node, DocumentSink& sink);
    void readCodeBlock(cmark_node* node, DocumentSink& sink);
    void appendInlines(cmark_node* container, RunBuilder& run, bool readAlt) const;
    void appendLiteral(cmark_node* node, std::string_view literal, RunBuilder& run) const;
    std::optional<Place> placeOf(cmark_node* node, std::string_view piece, std::size_t& from) const;
    void checkCancel() const;
    static void send(RunBuilder& run, DocumentSink& sink);

    std::string name_;
    DocumentOptions options_;
    MarkdownSource source_;
    LineStarts lines_;
    std::vector<MarkdownSection> sections_;
    const MarkdownSection* section_ = nullptr; // the one being read
    DocumentMetadata metadata_;
};

std::size_t MarkdownDocument::survey(cmark_node* root) {
    std::size_t htmlBlocks = 0;
    walk(root, [&](cmark_node* node, int depth) {
        if (isBorrowed(node, depth))
            return false;
        if (depth > markdownMaxDepth)
            refuse(name_, "the Markdown is nested deeper than " + std::to_string(markdownMaxDepth) +
                              " levels");
        const cmark_node_type type = cmark_node_get_type(node);
        htmlBlocks += type == CMARK_NODE_HTML_BLOCK;
        if (type == CMARK_NODE_HEADING && cmark_node_get_heading_level(node) == 1 &&
            metadata_.title.empty()) {
            RunBuilder title;
            appendHeading(node, title, true);
            metadata_.title = title.text();
        }
        return true;
    });
    return htmlBlocks;
}

namespace {

bool holdsImage(cmark_node* paragraph) {
    bool found = false;
    walk(paragraph, [&](cmark_node* node, int) {
        found = found || cmark_node_get_type(node) == CMARK_NODE_IMAGE;
        return !found;
    });
    return found;
}

} // namespace

bool MarkdownDocument::readBlock(cmark_node* node, DocumentSink& sink) {
    checkCancel();
    switch (cmark_node_get_type(node)) {
    case CMARK_NODE_PARAGRAPH: {
        RunBuilder run;
        appendInlines(node, run, options_.readAlt);
        if (run.empty() && !options_.readAlt && holdsImage(node))
            sink.leftOut(LeftOut::Image);
        send(run, sink);
        return false;
    }
    case CMARK_NODE_HEADING:
        readHeading(node, sink);
        return false;
    case CMARK_NODE_CODE_BLOCK:
        if (options_.readCode)
            readCodeBlock(node, sink);
        else
            sink.leftOut(LeftOut::Code);
        return false;
    case CMARK_NODE_HTML_BLOCK:
    case CMARK_NODE_THEMATIC_BREAK:
        return false;
    case CMARK_NODE_FOOTNOTE_DEFINITION:
        if (!options_.readNotes)
            sink.leftOut(LeftOut::Note);
        return options_.readNotes;
    default:
        if (isType(node, "table_row") || isType(node, "table_header")) {
            readTableRow(node, sink);
            return false;
        }
        return true; // block quotes, lists, items, tables: their blocks are read
    }
}

// Headings of level 1 and 2 begin chapters, titled by their text (an image's alt text too,
// which the title shows even where it is not read).
void MarkdownDocument::readHeading(cmark_node* node, DocumentSink& sink) {
    if (cmark_node_get_heading_level(node) <= 2) {
        RunBuilder heading;
        appendHeading(node, heading, true);
        if (std::string title = cleanText(heading.text()); !title.empty())
            sink.chapter(std::move(title));
    }
    RunBuilder run;
    appendHeading(node, run, options_.readAlt);
    send(run, sink);
}

void MarkdownDocument::appendHeading(cmark_node* node, RunBuilder& run, bool readAlt) const {
    appendInlines(node, run, readAlt);
    run.cutAttributes();
}

void MarkdownDocument::readTableRow(cmark_node* node, DocumentSink& sink) {
    RunBuilder run;
    for (cmark_node* cell = cmark_node_first_child(node); cell != nullptr;
         cell = cmark_node_next(cell)) {
        run.pause();
        appendInlines(cell, run, options_.readAlt);
    }
    send(run, sink);
}

// A code block's lines, each placed where it stands (indentation and fences aside).
void MarkdownDocument::readCodeBlock(cmark_node* node, DocumentSink& sink) {
    const char* literal = cmark_node_get_literal(node);
    RunBuilder run;
    appendLiteral(node, literal != nullptr ? literal : "", run);
    send(run, sink);
}

void MarkdownDocument::appendInlines(cmark_node* container, RunBuilder& run, bool readAlt) const {
    walk(container, [&](cmark_node* node, int) {
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_TEXT:
            if (!isDivFence(node))
                appendLiteral(node, withoutSpanAttributes(literalOf(node)), run);
            return false;
        case CMARK_NODE_CODE:
            appendLiteral(node, literalOf(node), run);
            return false;
        case CMARK_NODE_SOFTBREAK:
        case CMARK_NODE_LINEBREAK:
            run.space();
            return false;
        case CMARK_NODE_HTML_INLINE: // the tag only: the text between tags is read
            if (isLineBreakTag(cmark_node_get_literal(node)))
                run.space();
            return false;
        case CMARK_NODE_IMAGE:
            return readAlt;
        case CMARK_NODE_FOOTNOTE_REFERENCE:
            if (options_.readNotes) {
                run.space();
                appendLiteral(node, literalOf(node), run);
            }
            return false;
        default:
            return true; // emphasis, strong, strike-through, links: their text, not their URL
        }
    });
}

void MarkdownDocument::appendLiteral(cmark_node* node, std::string_view literal,
                                     RunBuilder& run) const {
    std::size_t from = offsetOf(cmark_node_get_start_line(node), cmark_node_get_start_column(node));
    for (bool first = true; !literal.empty(); first = false) {
        const std::size_t end = std::min(literal.find('\n'), literal.size());
        const std::string_view line = literal.substr(0, end);
        if (!first)
            run.space();
        run.append(line, placeOf(node, line, from));
        literal.remove_prefix(std::min(end + 1, literal.size()));
    }
}

// Where piece stands: found in the node's own bytes at or after from (which then moves past
// it), exact; else the node's start. A piece cmark changed (an entity, an escape) is not found.
std::optional<Place> MarkdownDocument::placeOf(cmark_node* node, std::string_view piece,
                                               std::size_t& from) const {
    if (!source_.placesKnown || inDefinitions(node))
        return std::nullopt;
    const std::size_t start =
        offsetOf(cmark_node_get_start_line(node), cmark_node_get_start_column(node));
    const std::size_t end = std::max(
        start, offsetOf(cmark_node_get_end_line(node), cmark_node_get_end_column(node)) + 1);
    const std::string_view own = std::string_view(source_.text).substr(0, end);
    const std::size_t found = own.find(piece, std::min(from, own.size()));
    if (found == std::string_view::npos)
        return Place{.at = source_.offset + start, .exact = false};
    from = found + piece.size();
    return Place{.at = source_.offset + found, .exact = true};
}

void MarkdownDocument::checkCancel() const {
    checkCancelled(options_, name_);
}

void MarkdownDocument::send(RunBuilder& run, DocumentSink& sink) {
    if (run.empty())
        return;
    DocumentBlock block;
    block.runs.push_back(run.take());
    if (isSceneBreak(block.runs.front().text))
        return;
    sink.block(std::move(block));
}

} // namespace

std::unique_ptr<StructuredDocument> readMarkdown(std::string bytes, const std::string& name,
                                                 const DocumentOptions& options) {
    return std::make_unique<MarkdownDocument>(std::move(bytes), name, options);
}

std::unique_ptr<StructuredDocument> openMarkdown(const std::filesystem::path& file,
                                                 const DocumentOptions& options) {
    return readMarkdown(wholeFile(file, options), file.native(), options);
}

} // namespace kestrova::speech
