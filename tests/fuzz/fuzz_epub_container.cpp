// The EPUB container, on any bytes: opening and reading a book fails only with a one-line
// message naming the book, and what is read is clean. The first input byte chooses whether
// the rest is a ZIP archive as it stands or the pieces of a book, separated by NUL bytes, that
// are put in an archive here (container.xml, the package, the navigation document, the NCX,
// two pages, encryption.xml): random bytes seldom make a ZIP archive that gets that far.

#include "fuzz_archive.h"
#include "fuzz_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/epub/epub_document.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace kestrova::speech;

const std::string bookName = "fuzz.epub";

bool namesTheBook(const std::string& message) {
    return message.rfind("cannot read the book \"" + bookName + "\": ", 0) == 0 &&
           message.find_first_of("\n\r") == std::string::npos;
}

const char* const pieceNames[] = {"META-INF/container.xml",
                                  "OPS/book.opf",
                                  "OPS/nav.xhtml",
                                  "OPS/toc.ncx",
                                  "OPS/a.xhtml",
                                  "OPS/b.xhtml",
                                  "META-INF/encryption.xml"};

// The pieces as an archive, mimetype first.
std::string archiveOf(const std::vector<std::string_view>& pieces) {
    std::vector<std::pair<const char*, std::string_view>> entries = {
        {"mimetype", "application/epub+zip"}};
    for (std::size_t i = 0; i < pieces.size(); ++i)
        entries.emplace_back(pieceNames[i], pieces[i]);
    return kestrova::fuzz::archiveOf(entries);
}

class CheckingSink : public DocumentSink {
public:
    void chapter(std::string title) override { FUZZ_CHECK(kestrova::fuzz::isCleanMetadata(title)); }
    void block(DocumentBlock block) override {
        FUZZ_CHECK(!block.source.empty()); // a page of the book
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrova::fuzz::InputBytes input(data, size);
    const bool asItStands = (input.take() & 1) != 0;
    const std::string bytes =
        asItStands ? std::string(input.rest())
                   : archiveOf(kestrova::fuzz::partsOf(input.rest(), std::size(pieceNames)));
    // Small limits, for the fuzzer's memory and speed; the checks are the same.
    const ZipLimits zipLimits{.entryBytes = 1 << 20, .ratio = 100, .ratioCheckedAbove = 1 << 16};
    const EpubLimits limits{.xmlBytes = 1 << 20, .coverBytes = 1 << 20, .readingBytes = 4 << 20};
    DocumentOptions options;
    options.warning = [](const std::string& message) {
        FUZZ_CHECK(message.find_first_of("\n\r") == std::string::npos);
    };
    try {
        auto document = openEpubArchive(std::make_unique<ZipArchive>(bytes, bookName, zipLimits),
                                        options, limits);
        const DocumentMetadata& metadata = document->metadata();
        FUZZ_CHECK(metadata.coverBytes.size() <= limits.coverBytes);
        FUZZ_CHECK(metadata.coverBytes.empty() == metadata.coverType.empty());
        for (const std::string* field :
             {&metadata.title, &metadata.author, &metadata.language, &metadata.date})
            FUZZ_CHECK(kestrova::fuzz::isCleanMetadata(*field));
        CheckingSink sink;
        document->read(sink);
    } catch (const FileError& error) {
        FUZZ_CHECK(namesTheBook(error.what()));
    }
    return 0;
}
