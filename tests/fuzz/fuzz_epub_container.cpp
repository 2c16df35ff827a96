// The EPUB container, on any bytes: opening and reading a book fails only with a one-line
// message naming the book, and what is read is clean. The first input byte chooses whether
// the rest is a ZIP archive as it stands or the pieces of a book, separated by NUL bytes, that
// are put in an archive here (container.xml, the package, the navigation document, the NCX,
// two pages, encryption.xml): random bytes seldom make a ZIP archive that gets that far.

#include "fuzz_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/epub/epub_document.h"

#include <cstdint>
#include <string>
#include <vector>
#include <zip.h>

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

std::vector<std::string_view> piecesOf(std::string_view rest) {
    std::vector<std::string_view> pieces;
    while (pieces.size() + 1 < std::size(pieceNames) && rest.find('\0') != std::string_view::npos) {
        pieces.push_back(rest.substr(0, rest.find('\0')));
        rest.remove_prefix(pieces.back().size() + 1);
    }
    pieces.push_back(rest);
    return pieces;
}

// The pieces as an archive, mimetype first, written by libzip into memory.
std::string archiveOf(const std::vector<std::string_view>& pieces) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    FUZZ_CHECK(buffer != nullptr);
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    FUZZ_CHECK(archive != nullptr);
    const auto add = [&](const char* name, std::string_view bytes) {
        zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        FUZZ_CHECK(source != nullptr && zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8) >= 0);
    };
    add("mimetype", "application/epub+zip");
    for (std::size_t i = 0; i < pieces.size(); ++i)
        add(pieceNames[i], pieces[i]);
    FUZZ_CHECK(zip_close(archive) == 0);
    zip_stat_t stat;
    FUZZ_CHECK(zip_source_stat(buffer, &stat) == 0 && zip_source_open(buffer) == 0);
    std::string bytes(static_cast<std::size_t>(stat.size), '\0');
    FUZZ_CHECK(zip_source_read(buffer, bytes.data(), bytes.size()) ==
               static_cast<zip_int64_t>(bytes.size()));
    zip_source_close(buffer);
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
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
        asItStands ? std::string(input.rest()) : archiveOf(piecesOf(input.rest()));
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
