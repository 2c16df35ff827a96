// A Word document (Office Open XML's WordprocessingML) as a structured document: its body's
// paragraphs, headings by outline level or heading style, its core properties as metadata.

#include "speech/text/readers/docx/docx_document.h"

#include "speech/speech_error.h"
#include "speech/text/readers/docx/docx_body.h"
#include "speech/text/readers/docx/docx_names.h"
#include "speech/text/readers/docx/docx_styles.h"
#include "speech/text/readers/office/office_package.h"

#include <map>

namespace kestrova::speech {

namespace docx {
namespace {

const std::string documentEntry = "word/document.xml";

struct NoteEntry {
    const char* entry;
    const char* element;
};

NoteEntry noteEntryOf(NoteKind kind) {
    switch (kind) {
    case NoteKind::Footnote:
        return {.entry = "word/footnotes.xml", .element = "footnote"};
    case NoteKind::Endnote:
        return {.entry = "word/endnotes.xml", .element = "endnote"};
    case NoteKind::Comment:
        break;
    }
    return {.entry = "word/comments.xml", .element = "comment"};
}

class DocxDocument : public StructuredDocument {
public:
    DocxDocument(std::unique_ptr<ZipArchive> archive, const DocumentOptions& options)
        : package_(std::move(archive)), options_(options) {
        if (!package_.contains(documentEntry))
            package_.fail("it has no \"word/document.xml\": it is not a Word document");
        package_.check(documentEntry, package_.limits.partBytes);
        if (const auto styles = package_.smallPart("word/styles.xml"))
            styles_ = DocxStyles(*styles);
        if (const auto properties = package_.smallPart("docProps/core.xml"))
            metadata_ = officeMetadata(*properties);
        defaultLanguage(metadata_, styles_.defaultLanguage());
    }

    const DocumentMetadata& metadata() const override { return metadata_; }

    void read(DocumentSink& sink) override {
        const std::string bytes = package_.read(documentEntry, package_.limits.partBytes);
        const xhtml::PageTree body = package_.textPart(documentEntry, bytes, options_.cancel);
        std::map<NoteKind, NotePart> notes;
        const DocxParts parts{.document = package_.name(),
                              .entry = documentEntry,
                              .body = body,
                              .styles = styles_,
                              .notes = [&](NoteKind kind) -> const NotePart& {
                                  auto [at, added] = notes.try_emplace(kind);
                                  if (added)
                                      at->second = notePart(kind);
                                  return at->second;
                              }};
        readDocxBody(parts, options_, sink);
    }

private:
    NotePart notePart(NoteKind kind) const {
        const NoteEntry names = noteEntryOf(kind);
        NotePart part{.entry = names.entry, .tree = {}, .byId = {}};
        if (!package_.contains(part.entry))
            return part;
        const std::string bytes = package_.read(part.entry, package_.limits.partBytes);
        part.tree.emplace(package_.textPart(part.entry, bytes, options_.cancel));
        for (const xmlNode* at = part.tree->root()->children; at != nullptr; at = at->next)
            if (isWord(*at, names.element))
                part.byId.emplace(wordAttribute(*at, "id").value_or(""), at);
        return part;
    }

    OfficePackage package_;
    DocumentOptions options_;
    DocxStyles styles_;
    DocumentMetadata metadata_;
};

} // namespace
} // namespace docx

std::unique_ptr<StructuredDocument> openDocxArchive(std::unique_ptr<ZipArchive> archive,
                                                    const DocumentOptions& options) {
    return std::make_unique<docx::DocxDocument>(std::move(archive), options);
}

std::unique_ptr<StructuredDocument> openDocx(const std::filesystem::path& file,
                                             const DocumentOptions& options) {
    return openDocxArchive(
        officeArchive(file, options, "it is not a Word document",
                      "it is protected by a password: the document cannot be read"),
        options);
}

} // namespace kestrova::speech
