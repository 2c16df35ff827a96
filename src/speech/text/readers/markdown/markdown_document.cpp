#include "markdown_document.h"

#include "speech/base/clean_text.h"
#include "speech/base/utf8.h"
#include "speech/file_failures.h"
#include "speech/file_identity.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/readers/markdown/front_matter.h"
#include "speech/text/readers/markdown/markdown_sections.h"
#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "speech/text_encoding.h"

#include <algorithm>
#include <array>
#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::speech {
namespace {

struct NodeDeleter {
    void operator()(cmark_node* node) const { cmark_node_free(node); }
};
struct ParserDeleter {
    void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};
using NodeHandle = std::unique_ptr<cmark_node, NodeDeleter>;
using ParserHandle = std::unique_ptr<cmark_parser, ParserDeleter>;

[[noreturn]] void refuse(const std::string& name, const std::string& reason) {
    throw FileError(inputFailure("read", name, reason));
}

void checkCancelled(const DocumentOptions& options, const std::string& name) {
    if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed))
        throw ConversionCancelled(inputFailure("read", name, "the conversion was cancelled"));
}

// The Markdown as cmark reads it: UTF-8, without a byte order mark or front matter.
struct MarkdownSource {
    std::string text;
    std::uint64_t offset = 0; // where text begins in the file
    bool placesKnown = true;  // text holds the file's own bytes from offset on
    int firstLine = 1;        // the file's line text begins on
    DocumentMetadata frontMatter;
};

// The bytes that can mark up Markdown, and line ends: what cmark makes its nodes at.
std::size_t marksIn(std::string_view text) {
    static constexpr auto isMark = [] {
        std::array<bool, 256> table{};
        for (const unsigned char c : std::string_view("*_`[]!<>&\\-+|~#:\n\r"))
            table[c] = true;
        return table;
    }();
    std::size_t marks = 0;
    for (const char c : text)
        marks += isMark[static_cast<unsigned char>(c)];
    return marks;
}

// Markdown is UTF-8; a file that is not (UTF-16 with its mark, bytes that are no UTF-8 read
// as Windows-1252 as plain text is, or behind a UTF-8 mark with U+FFFD for them) is decoded
// first, and its places are then unknown: cmark would count its columns in other bytes.
MarkdownSource sourceOf(std::string bytes) {
    MarkdownSource source;
    const TextEncoding marked = encodingFromStart(bytes);
    const std::size_t mark = byteOrderMarkLength(bytes);
    // Valid UTF-8 is what detectEncoding would find unmarked text to be.
    if ((marked == TextEncoding::Automatic || marked == TextEncoding::Utf8) &&
        isUtf8(std::string_view(bytes).substr(mark))) {
        source.offset = mark;
        source.text = std::move(bytes);
        source.text.erase(0, source.offset);
        // cmark would put U+FFFD for a NUL, three bytes for one, and count its columns in them;
        // a space, as plain text reads it, keeps the places.
        std::replace(source.text.begin(), source.text.end(), '\0', ' ');
    } else {
        source.text = decodeText(bytes, detectEncoding(bytes));
        source.placesKnown = false;
    }
    FrontMatter frontMatter = readFrontMatter(source.text);
    source.firstLine += static_cast<int>(
        std::count(source.text.begin(),
                   source.text.begin() + static_cast<std::ptrdiff_t>(frontMatter.length), '\n'));
    source.text.erase(0, frontMatter.length);
    source.offset += frontMatter.length;
    source.frontMatter = std::move(frontMatter.metadata);
    return source;
}

// The source, unless it holds too much markup to parse within the memory allowed.
MarkdownSource checkedSource(std::string bytes, const std::string& name,
                             const DocumentOptions& options) {
    MarkdownSource source = sourceOf(std::move(bytes));
    checkCancelled(options, name);
    if (marksIn(source.text) > markdownMaxMarks)
        refuse(name, "it holds more than " + std::to_string(markdownMaxMarks) +
                         " marks of markup and line ends, the most read");
    return source;
}

NodeHandle parse(std::string_view text) {
    // Registers the extensions once per process: cmark keeps them in a list of its own.
    static const bool registered = (cmark_gfm_core_extensions_ensure_registered(), true);
    (void)registered;
    // No CMARK_OPT_UNSAFE: nothing is rendered, raw HTML is passed over below.
    const ParserHandle parser(
        cmark_parser_new(CMARK_OPT_SOURCEPOS | CMARK_OPT_FOOTNOTES | CMARK_OPT_VALIDATE_UTF8));
    for (const char* name : {"table", "strikethrough", "autolink"})
        if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(parser.get(), extension);
    cmark_parser_feed(parser.get(), text.data(), text.size());
    return NodeHandle(cmark_parser_finish(parser.get()));
}

// Visits the nodes below root in document order without recursion; enter(node, depth), depth
// 1 for root's children, returns whether to visit the node's children too.
template <typename Enter> void walk(cmark_node* root, Enter&& enter) {
    cmark_node* node = cmark_node_first_child(root);
    int depth = 1;
    while (node != nullptr) {
        cmark_node* child = enter(node, depth) ? cmark_node_first_child(node) : nullptr;
        if (child != nullptr) {
            node = child;
            ++depth;
            continue;
        }
        while (node != root && cmark_node_next(node) == nullptr) {
            node = cmark_node_parent(node);
            --depth;
        }
        node = node == root ? nullptr : cmark_node_next(node);
    }
}

// "<br>", "<br/>", "<BR />": a tag that parts the words on either side.
bool isLineBreakTag(const char* tag) {
    const std::string_view text = tag != nullptr ? tag : "";
    return text.size() >= 4 && (text[1] == 'b' || text[1] == 'B') &&
           (text[2] == 'r' || text[2] == 'R') &&
           (text[3] == '>' || text[3] == '/' || text[3] == ' ');
}

std::string_view literalOf(cmark_node* node) {
    const char* literal = cmark_node_get_literal(node);
    return literal != nullptr ? literal : "";
}

bool isLineEdge(cmark_node* node) {
    return node == nullptr || cmark_node_get_type(node) == CMARK_NODE_SOFTBREAK ||
           cmark_node_get_type(node) == CMARK_NODE_LINEBREAK;
}

// A line of its own that opens or closes one of pandoc's fenced divs: "::: note", ":::".
bool isDivFence(cmark_node* text) {
    const char* literal = cmark_node_get_literal(text);
    return literal != nullptr && std::strncmp(literal, ":::", 3) == 0 &&
           isLineEdge(cmark_node_previous(text)) && isLineEdge(cmark_node_next(text));
}

// Attributes as pandoc writes them in braces: "#id", ".class", "key=value", "-".
bool isAttributeList(std::string_view inside) {
    return !inside.empty() && inside.find_first_of("{}") == std::string_view::npos &&
           (std::strchr("#.-", inside.front()) != nullptr ||
            inside.find('=') != std::string_view::npos);
}

// A text without the attributes of pandoc's bracketed spans: "[words]{.class}" as "[words]".
std::string withoutSpanAttributes(std::string_view text) {
    std::string kept;
    for (std::size_t at = 0;;) {
        const std::size_t open = text.find("]{", at);
        const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos) {
            kept += text.substr(at);
            return kept;
        }
        kept += text.substr(at, open + 1 - at);
        if (!isAttributeList(text.substr(open + 2, close - open - 2)))
            kept += text.substr(open + 1, close + 1 - (open + 1));
        at = close + 1;
    }
}

bool isType(cmark_node* node, const char* typeName) {
    return std::strcmp(cmark_node_get_type_string(node), typeName) == 0;
}

// The byte offsets of cmark's places (line and byte column, from 1), lines ending as cmark
// ends them: at "\n", "\r\n" or "\r".
class LineStarts {
public:
    explicit LineStarts(std::string_view text) : size_(text.size()) {
        starts_.push_back(0);
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n' ||
                (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
                starts_.push_back(i + 1);
    }

    std::size_t offsetOf(int line, int column) const {
        if (line < 1 || column < 1)
            return 0;
        const std::size_t index =
            std::min<std::size_t>(static_cast<std::size_t>(line) - 1, starts_.size() - 1);
        // Within the text whatever cmark says: a place is always one of its bytes.
        return std::min(starts_[index] + static_cast<std::size_t>(column) - 1,
                        size_ == 0 ? 0 : size_ - 1);
    }

private:
    std::vector<std::size_t> starts_;
    std::size_t size_;
};

// Where a piece of text stands in the file; exact: each of its bytes at at + its index.
struct Place {
    std::uint64_t at = 0;
    bool exact = false;
};

// A block's text as it is read, white space and control characters collapsed to single
// spaces, with the places of its pieces.
class RunBuilder {
public:
    void space() { pendingSpace_ = !text_.empty(); }
    // ", " before the next text, if there was text before: between a table row's cells.
    void pause() { pendingPause_ = !text_.empty(); }

    // Appends piece character by character; a byte that is no UTF-8 (cmark cuts a long label
    // at a byte count, within a character) becomes U+FFFD.
    void append(std::string_view piece, std::optional<Place> place) {
        bool placed = false;
        for (std::size_t i = 0, length = 1; i < piece.size(); i += length) {
            length = utf8SequenceLength(piece.substr(i));
            const std::string_view character =
                length == 0 ? replacementCharacter : piece.substr(i, length);
            length = std::max<std::size_t>(length, 1);
            if (isSpace(character)) {
                space();
                continue;
            }
            flushSeparator();
            if (place && (place->exact || !placed))
                placeNext(place->at + (place->exact ? i : 0));
            placed = true;
            text_ += character;
        }
    }

    // Drops an attribute block that ends the text, " {#id .class key=value}" or " {-}" as
    // pandoc and kramdown write it after a heading's title.
    void cutAttributes() {
        const std::size_t open = text_.rfind(" {");
        if (text_.empty() || text_.back() != '}' || open == std::string::npos)
            return;
        const std::string_view inside =
            std::string_view(text_).substr(open + 2, text_.size() - open - 3);
        if (!isAttributeList(inside))
            return;
        text_.resize(open);
        while (!places_.empty() && places_.back().first >= open)
            places_.pop_back();
    }

    bool empty() const { return text_.empty(); }
    const std::string& text() const { return text_; }

    DocumentRun take() {
        return DocumentRun{
            .text = std::move(text_), .language = {}, .sourceBytes = std::move(places_)};
    }

private:
    // White space and controls, C1's too, as every reader takes them.
    static bool isSpace(std::string_view character) {
        return isGapCharacter(codePointAt(character).value);
    }

    void flushSeparator() {
        if (pendingPause_)
            text_ += ", ";
        else if (pendingSpace_)
            text_ += ' ';
        pendingPause_ = pendingSpace_ = false;
    }

    // The next byte of text_ stands at source: a new entry unless the last one says so.
    void placeNext(std::uint64_t source) {
        const std::size_t at = text_.size();
        if (!places_.empty() && places_.back().second + (at - places_.back().first) == source)
            return;
        if (places_.empty() && at != 0)
            places_.emplace_back(0, source); // the first entry stands at 0
        else
            places_.emplace_back(at, source);
    }

    std::string text_;
    std::vector<std::pair<std::size_t, std::uint64_t>> places_;
    bool pendingSpace_ = false;
    bool pendingPause_ = false;
};

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

bool MarkdownDocument::readBlock(cmark_node* node, DocumentSink& sink) {
    checkCancel();
    switch (cmark_node_get_type(node)) {
    case CMARK_NODE_PARAGRAPH: {
        RunBuilder run;
        appendInlines(node, run, options_.readAlt);
        send(run, sink);
        return false;
    }
    case CMARK_NODE_HEADING:
        readHeading(node, sink);
        return false;
    case CMARK_NODE_CODE_BLOCK:
        if (options_.readCode)
            readCodeBlock(node, sink);
        return false;
    case CMARK_NODE_HTML_BLOCK:
    case CMARK_NODE_THEMATIC_BREAK:
        return false;
    case CMARK_NODE_FOOTNOTE_DEFINITION:
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
    sink.block(std::move(block));
}

std::string wholeFile(const std::filesystem::path& file, const DocumentOptions& options) {
    const std::string tooLarge = "it is larger than " + std::to_string(markdownMaxBytes >> 20) +
                                 " MiB, the most a Markdown file may hold";
    // Before the reader's pass over the whole file.
    if (const auto identity = FileIdentity::ofPath(file);
        identity && static_cast<std::uint64_t>(identity->size) > markdownMaxBytes)
        refuse(file.native(), tooLarge);
    TextFileReader reader(file, duplicateOpenFile(options), TextEncoding::Automatic,
                          options.cancel);
    std::string bytes;
    for (std::string piece; reader.readUndecoded(piece);) {
        checkCancelled(options, file.native());
        if (bytes.size() + piece.size() > markdownMaxBytes)
            refuse(file.native(), tooLarge);
        bytes += piece;
    }
    return bytes;
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
