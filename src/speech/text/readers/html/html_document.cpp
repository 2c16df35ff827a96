// A lone HTML or XHTML file as a structured document: its headings h1-h3 begin chapters, its
// head gives the title, author, date and language.

#include "speech/ascii.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/text/readers/document.h"
#include "speech/text/readers/html/xhtml_blocks.h"
#include "speech/text/readers/html/xhtml_elements.h"
#include "speech/text/readers/html/xhtml_page_tree.h"
#include "speech/text/readers/plain/text_file_reader.h"

namespace kestrova::speech {

namespace {

using namespace xhtml;

// An .xhtml file is XML, read by the XML parser (which refuses it if it is malformed); any
// other is HTML, read by the HTML parser, which forgives what browsers forgive.
bool isXhtmlFile(const std::filesystem::path& file) {
    const std::string ending = lowerCaseEnding(file);
    return ending == ".xhtml" || ending == ".xht";
}

std::string fileBytes(const std::filesystem::path& file, const DocumentOptions& options) {
    return readWholeTextFile(
        file,
        {.maxBytes = pageMaxBytes,
         .cancel = options.cancel,
         .failure = {},
         .tooLarge = "an HTML file may be at most " + sizeInWords(pageMaxBytes)},
        duplicateOpenFile(options));
}

const xmlNode* firstElement(const xmlNode& parent, std::string_view name) {
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (nameOf(*child) == name)
            return child;
        if (const xmlNode* found = firstElement(*child, name))
            return found;
    }
    return nullptr;
}

// What the head's meta elements say: the authors (pandoc writes one element each), the date.
void readMetaElements(const xmlNode& head, DocumentMetadata& metadata) {
    for (const xmlNode* child = head.children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || nameOf(*child) != "meta")
            continue;
        const std::string name = asciiLower(attributeOf(*child, "name").value_or(""));
        const std::string content = collapsedText(attributeOf(*child, "content").value_or(""));
        if (content.empty())
            continue;
        if (name == "author" || name == "dc.creator" || name == "dcterms.creator")
            metadata.author += (metadata.author.empty() ? "" : ", ") + content;
        else if ((name == "dcterms.date" || name == "date" || name == "dc.date") &&
                 metadata.date.empty())
            metadata.date = content;
    }
}

DocumentMetadata metadataOf(const PageTree& tree) {
    DocumentMetadata metadata;
    const xmlNode& root = *tree.root();
    metadata.language =
        attributeOf(root, "xml:lang").value_or(attributeOf(root, "lang").value_or(""));
    if (const xmlNode* head = firstElement(root, "head")) {
        if (const xmlNode* title = firstElement(*head, "title"))
            metadata.title = shortTextOf(*title, 4096);
        readMetaElements(*head, metadata);
    }
    if (metadata.title.empty())
        if (const xmlNode* heading = firstElement(root, "h1"))
            metadata.title = shortTextOf(*heading, 4096);
    cleanMetadata(metadata);
    return metadata;
}

class HtmlDocument : public StructuredDocument {
public:
    HtmlDocument(const std::filesystem::path& file, const DocumentOptions& options)
        : file_(file), options_(options), bytes_(fileBytes(file, options)),
          xml_(isXhtmlFile(file)) {
        try {
            metadata_ = metadataOf(PageTree(bytes_, !xml_, options.cancel));
        } catch (const PageFault& fault) {
            throw FileError(inputFailure(
                "read", file,
                (fault.line > 0 ? "line " + std::to_string(fault.line) + ": " : std::string()) +
                    fault.reason));
        }
    }

    const DocumentMetadata& metadata() const override { return metadata_; }

    void read(DocumentSink& sink) override {
        const XhtmlPage page{.bytes = bytes_,
                             .name = file_.native(),
                             .html = !xml_,
                             .language = {},
                             .chaptersAt = {},
                             .chapterOrder = {},
                             .headingsAreChapters = true,
                             .noteIds = {},
                             .bookNotes = {}};
        readXhtmlPage(page, options_, sink);
    }

private:
    std::filesystem::path file_;
    DocumentOptions options_;
    std::string bytes_; // at most pageMaxBytes, read again by each read()
    bool xml_;
    DocumentMetadata metadata_;
};

} // namespace

std::unique_ptr<StructuredDocument> openHtml(const std::filesystem::path& file,
                                             const DocumentOptions& options) {
    return std::make_unique<HtmlDocument>(file, options);
}

} // namespace kestrova::speech
