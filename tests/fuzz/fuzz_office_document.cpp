// The Word and OpenDocument readers, on any bytes: opening and reading a document fails only
// with a one-line message naming the document, every block names the part it comes from, and
// what is read is clean. The first input byte chooses the reader (bit 1) and whether the rest
// is a ZIP archive as it stands or the document's parts, separated by NUL bytes, that are put
// in an archive here: random bytes seldom make a ZIP archive that gets that far.

#include "fuzz_archive.h"
#include "fuzz_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/docx/docx_document.h"
#include "speech/text/readers/odt/odt_document.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_office_document {

using namespace kestrova::speech;

const std::vector<const char*> wordParts = {"word/document.xml", "word/styles.xml",
                                            "word/footnotes.xml", "word/comments.xml",
                                            "docProps/core.xml"};
const std::vector<const char*> openDocumentParts = {"content.xml", "styles.xml", "meta.xml",
                                                    "META-INF/manifest.xml"};

// The parts as an archive, an OpenDocument's mimetype first.
std::string archiveOf(const std::vector<const char*>& names,
                      const std::vector<std::string_view>& parts, bool openDocument) {
    std::vector<std::pair<const char*, std::string_view>> entries;
    if (openDocument)
        entries.emplace_back("mimetype", "application/vnd.oasis.opendocument.text");
    for (std::size_t i = 0; i < parts.size(); ++i)
        entries.emplace_back(names[i], parts[i]);
    return kestrova::fuzz::archiveOf(entries);
}

class CheckingSink : public DocumentSink {
public:
    void chapter(std::string title) override { FUZZ_CHECK(kestrova::fuzz::isCleanMetadata(title)); }
    void block(DocumentBlock block) override {
        FUZZ_CHECK(!block.source.empty() && !block.runs.empty());
        for (const DocumentRun& run : block.runs) {
            FUZZ_CHECK(!run.text.empty());
            FUZZ_CHECK(run.sourceBytes.empty() || run.sourceBytes.front().first == 0);
        }
    }
};

} // namespace fuzz_office_document

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fuzz_office_document;
    kestrova::fuzz::InputBytes input(data, size);
    const unsigned char choice = input.take();
    const bool asItStands = (choice & 1) != 0;
    const bool openDocument = (choice & 2) != 0;
    const std::vector<const char*>& names = openDocument ? openDocumentParts : wordParts;
    const std::string bytes =
        asItStands
            ? std::string(input.rest())
            : archiveOf(names, kestrova::fuzz::partsOf(input.rest(), names.size()), openDocument);
    const std::string name = openDocument ? "fuzz.odt" : "fuzz.docx";
    // Small limits, for the fuzzer's memory and speed; the checks are the same.
    const ZipLimits zipLimits{.entryBytes = 1 << 20, .ratio = 100, .ratioCheckedAbove = 1 << 16};
    DocumentOptions options;
    options.readNotes = (choice & 4) != 0;
    options.readAlt = (choice & 8) != 0;
    try {
        auto archive = std::make_unique<ZipArchive>(bytes, name, zipLimits);
        auto document = openDocument ? openOdtArchive(std::move(archive), options)
                                     : openDocxArchive(std::move(archive), options);
        const DocumentMetadata& metadata = document->metadata();
        for (const std::string* field :
             {&metadata.title, &metadata.author, &metadata.language, &metadata.date})
            FUZZ_CHECK(kestrova::fuzz::isCleanMetadata(*field));
        CheckingSink sink;
        document->read(sink);
    } catch (const FileError& error) {
        const std::string said = error.what();
        // The archive's own refusals name it as a book before the reader words them.
        FUZZ_CHECK((said.starts_with("cannot read the document \"" + name + "\": ") ||
                    said.starts_with("cannot read the book \"" + name + "\": ")) &&
                   said.find_first_of("\n\r") == std::string::npos);
    }
    return 0;
}
