#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/html/xhtml_page_tree.h"
#include "speech/text/readers/xml/book_xml.h"
#include "speech/text/readers/zip/zip_archive.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace kestrova::speech {

// A document's failure as messages give it: "cannot read the document "PATH": REASON".
std::string documentFailure(const std::filesystem::path& document, const std::string& reason);
// ... with the entry inside it, quoted and cut as bookFailure gives it.
std::string documentFailure(const std::filesystem::path& document, std::string_view entry,
                            const std::string& reason);

// What an office document's parts may make us hold beyond the archive's own entry limit.
struct OfficeLimits {
    std::uint64_t partBytes = xhtml::pageMaxBytes;        // the text's parts, read into a tree
    std::uint64_t smallXmlBytes = std::uint64_t{4} << 20; // metadata, styles, manifest
};

// A word processor's document as a ZIP archive of XML parts (Word's and OpenDocument's), with
// every failure worded for the document: the archive's own, a missing part, malformed XML.
class OfficePackage {
public:
    // The document in memory (the fuzz target's) or already opened.
    explicit OfficePackage(std::unique_ptr<ZipArchive> archive);

    const std::filesystem::path& name() const { return archive_->name(); }
    bool contains(std::string_view entry) const { return archive_->contains(entry); }
    // Refuses the entry as read() would for its declared sizes (a bomb), without reading it.
    void check(std::string_view entry, std::uint64_t maxBytes) const;
    // The entry's bytes; refused (FileError) as the archive refuses them.
    std::string read(std::string_view entry, std::uint64_t maxBytes) const;
    // A part of text parsed with where its text nodes stand; malformed XML is refused, never
    // read as HTML. The bytes must outlive the tree's use of the places only.
    xhtml::PageTree textPart(std::string_view entry, std::string_view bytes,
                             const std::atomic<bool>* cancel) const;
    // A small part parsed into a tree; nullopt where the document does not hold it.
    std::optional<book_xml::Document> smallPart(std::string_view entry) const;
    // Throws the document's failure in that entry.
    [[noreturn]] void fail(std::string_view entry, const std::string& reason) const;
    [[noreturn]] void fail(const std::string& reason) const;

    OfficeLimits limits;

private:
    std::unique_ptr<ZipArchive> archive_;
};

// The archive of a file, checked to be regular first (a FIFO would block its opening); a file
// that is not a ZIP archive throws notZip's words, or, where it is an OLE compound file that
// holds an "EncryptionInfo" stream (how a document protected by a password is kept), those of
// passwordReason.
std::unique_ptr<ZipArchive> officeArchive(const std::filesystem::path& file,
                                          const DocumentOptions& options, const std::string& notZip,
                                          const std::string& passwordReason);

// A ZipArchive's refusal in the document's words: its "cannot read the book" as
// documentFailure gives it.
std::string inDocumentWords(std::string_view bookMessage);

// dc:title, dc:creator (or meta:initial-creator) and dc:language, where a document's core
// properties (Word's docProps/core.xml, OpenDocument's meta.xml) give them; cleaned.
DocumentMetadata officeMetadata(const book_xml::Document& properties);

// The document's language where its metadata gives none: its styles' default.
void defaultLanguage(DocumentMetadata& metadata, const std::string& stylesLanguage);

} // namespace kestrova::speech
