#include "speech/text/readers/office/office_package.h"

#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <fcntl.h>

namespace kestrova::speech {

namespace {

constexpr std::string_view corePropertiesDcNamespace = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view openDocumentMetaNamespace =
    "urn:oasis:names:tc:opendocument:xmlns:meta:1.0";
constexpr std::string_view oleCompoundFileMagic = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

std::string bytesAtStart(const UniqueFd& file, std::size_t count) {
    std::string bytes(count, '\0');
    bytes.resize(file ? readAllAt(file.get(), bytes.data(), count, 0).done : 0);
    return bytes;
}

// An OLE compound file's directory names its streams in UTF-16; that of an encrypted Office
// document lies near its start in the files Office and LibreOffice write.
bool holdsEncryptionInfo(const UniqueFd& file) {
    constexpr std::string_view name{"E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o\0", 28};
    return bytesAtStart(file, std::size_t{1} << 20).find(name) != std::string::npos;
}

} // namespace

std::string documentFailure(const std::filesystem::path& document, const std::string& reason) {
    return "cannot read the document " + quotedName(document.native()) + ": " + reason;
}

std::string documentFailure(const std::filesystem::path& document, std::string_view entry,
                            const std::string& reason) {
    return documentFailure(document, quotedValue(entry, longestDocumentName) + ": " + reason);
}

std::string inDocumentWords(std::string_view bookMessage) {
    constexpr std::string_view book = "cannot read the book ";
    if (!bookMessage.starts_with(book))
        return std::string(bookMessage);
    std::string said = "cannot read the document " + std::string(bookMessage.substr(book.size()));
    for (const std::string_view word : {" in the book", " a book may hold", " a book's entries"})
        if (const std::size_t at = said.find(word); at != std::string::npos)
            said.replace(at, word.size(),
                         word == " in the book"       ? " in the document"
                         : word == " a book may hold" ? " a document may hold"
                                                      : " a document's entries");
    return said;
}

OfficePackage::OfficePackage(std::unique_ptr<ZipArchive> archive) : archive_(std::move(archive)) {}

void OfficePackage::check(std::string_view entry, std::uint64_t maxBytes) const {
    try {
        archive_->check(entry, maxBytes);
    } catch (const FileError& error) {
        throw FileError(inDocumentWords(error.what()));
    }
}

std::string OfficePackage::read(std::string_view entry, std::uint64_t maxBytes) const {
    try {
        return archive_->read(entry, maxBytes);
    } catch (const FileError& error) {
        throw FileError(inDocumentWords(error.what()));
    }
}

void OfficePackage::fail(std::string_view entry, const std::string& reason) const {
    throw FileError(documentFailure(name(), entry, reason));
}

void OfficePackage::fail(const std::string& reason) const {
    throw FileError(documentFailure(name(), reason));
}

xhtml::PageTree OfficePackage::textPart(std::string_view entry, std::string_view bytes,
                                        const std::atomic<bool>* cancel) const {
    const auto faultOf = [&](const xhtml::PageFault& fault) {
        fail(entry,
             (fault.line > 0 ? "line " + std::to_string(fault.line) + ": " : "") + fault.reason);
    };
    try {
        xhtml::PageTree tree(bytes, false, cancel);
        if (const std::optional<xhtml::PageFault>& malformed = tree.malformedAs())
            faultOf(*malformed);
        return tree;
    } catch (const xhtml::PageFault& fault) {
        faultOf(fault);
    } catch (const ConversionCancelled&) {
        throw ConversionCancelled(documentFailure(name(), "the reading was cancelled"));
    }
    throw std::logic_error("unreachable");
}

std::optional<book_xml::Document> OfficePackage::smallPart(std::string_view entry) const {
    if (!contains(entry))
        return std::nullopt;
    const std::string bytes = read(entry, limits.smallXmlBytes);
    return book_xml::parse(bytes, [&](const std::string& reason) { fail(entry, reason); });
}

std::unique_ptr<ZipArchive> officeArchive(const std::filesystem::path& file,
                                          const DocumentOptions& options, const std::string& notZip,
                                          const std::string& passwordReason) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        throw FileError(
            documentFailure(file, error ? error.message() : "it is not a regular file"));
    UniqueFd opened = duplicateOpenFile(options);
    if (!opened)
        opened.reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!opened)
        throw FileError(
            documentFailure(file, std::error_code(errno, std::generic_category()).message()));
    const std::string start = bytesAtStart(opened, 8);
    if (start.starts_with(oleCompoundFileMagic))
        throw FileError(
            documentFailure(file, holdsEncryptionInfo(opened) ? passwordReason : notZip));
    if (!start.starts_with("PK"))
        throw FileError(documentFailure(file, notZip));
    try {
        return std::make_unique<ZipArchive>(file, std::move(opened));
    } catch (const FileError& failure) {
        throw FileError(inDocumentWords(failure.what()));
    }
}

DocumentMetadata officeMetadata(const book_xml::Document& properties) {
    DocumentMetadata metadata;
    std::string initialCreator;
    book_xml::forEachElement(*xmlDocGetRootElement(properties.get()), [&](const xmlNode& node) {
        const auto take = [&](std::string& into, std::string_view ns, std::string_view name) {
            if (into.empty() && book_xml::isElement(node, ns, name))
                into = book_xml::textOf(node);
        };
        take(metadata.title, corePropertiesDcNamespace, "title");
        take(metadata.author, corePropertiesDcNamespace, "creator");
        take(initialCreator, openDocumentMetaNamespace, "initial-creator");
        take(metadata.language, corePropertiesDcNamespace, "language");
        return true;
    });
    // The one who wrote the document, rather than who saved it last.
    if (!initialCreator.empty())
        metadata.author = initialCreator;
    cleanMetadata(metadata);
    return metadata;
}

void defaultLanguage(DocumentMetadata& metadata, const std::string& stylesLanguage) {
    if (metadata.language.empty())
        metadata.language = stylesLanguage;
    cleanMetadata(metadata);
}

} // namespace kestrova::speech
