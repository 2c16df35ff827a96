#include "speech/text/readers/epub/epub_document.h"

#include "speech/base/warning_tally.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/readers/epub/epub_encryption.h"
#include "speech/text/readers/epub/epub_package.h"
#include "speech/text/readers/epub/epub_toc.h"
#include "speech/text/readers/html/xhtml_blocks.h"
#include "speech/text/readers/xml/xml_text.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace kestrova::speech {

using namespace epub;

namespace {

constexpr std::string_view containerEntry = "META-INF/container.xml";
constexpr std::string_view encryptionEntry = "META-INF/encryption.xml";
// Titles of table entries at one place are joined up to this length, not without end.
constexpr std::size_t maxJoinedTitleBytes = 1000;

// One spine item that is read: its entry, and the chapters the table of contents starts in it.
struct Page {
    std::string entry;
    bool html = false; // served as text/html: libxml2's HTML parser
    std::map<std::string, std::string> chaptersAt;
    std::vector<std::string> chapterOrder; // chaptersAt's ids in the table's order
};

// An entry's name in a message, quoted and cut as bookFailure gives it.
std::string quotedEntry(std::string_view entry) {
    return quotedValue(entry, longestDocumentName);
}

// Fixed-layout books may give a page as an SVG drawing, read by its text.
bool isPageType(std::string_view mediaType) {
    return mediaType == "application/xhtml+xml" || mediaType == "text/html" ||
           mediaType == "image/svg+xml";
}

bool coverBytesMatch(std::string_view type, std::string_view bytes) {
    if (type == "image/jpeg")
        return bytes.starts_with("\xFF\xD8\xFF");
    if (type == "image/png")
        return bytes.starts_with("\x89PNG\r\n\x1A\n");
    return false;
}

// Hands a chapter on only once a block follows it: a table's entry whose pages hold nothing
// to read (a title page of one image) is no chapter, and is not counted, as an entry left out
// is not.
class ReadChaptersSink : public DocumentSink {
public:
    explicit ReadChaptersSink(DocumentSink& sink) : sink_(sink) {}
    void chapter(std::string title) override { pending_ = std::move(title); }
    void block(DocumentBlock block) override {
        if (pending_)
            sink_.chapter(std::move(*std::exchange(pending_, std::nullopt)));
        sink_.block(std::move(block));
    }
    void leftOut(LeftOut what) override { sink_.leftOut(what); }

private:
    DocumentSink& sink_;
    std::optional<std::string> pending_;
};

class EpubDocument : public StructuredDocument {
public:
    EpubDocument(std::unique_ptr<ZipArchive> archive, const DocumentOptions& options,
                 EpubLimits limits)
        : archive_(std::move(archive)), options_(options), limits_(limits) {
        checkMimetype();
        refuseEncrypted();
        const std::string packageEntry = packageEntryOf(
            archive_->read(containerEntry, limits_.xmlBytes), refusalIn(containerEntry));
        const Package package = readPackage(archive_->read(packageEntry, limits_.xmlBytes),
                                            packageEntry, refusalIn(packageEntry));
        metadata_ = package.metadata;
        cleanMetadata(metadata_);
        placePages(package, tableOfContents(package));
        checkReadingSize(package.coverEntry);
        readCover(package.coverEntry);
        // Every book's number links are looked at, as EPUB 3 books too may leave their
        // references unmarked; an EPUB 2 book's notes, which carry no marks, are left out by
        // what leads to them.
        collectNotes_ = !options_.readNotes;
        notesByLinks_ = package.majorVersion < 3;
    }

    const DocumentMetadata& metadata() const override { return metadata_; }

    void read(DocumentSink& bookSink) override {
        if (collectNotes_ && notesByLinks_)
            notes();
        ReadChaptersSink sink(bookSink);
        // The pages' warnings name the book, and are told a few of each kind for the book.
        PageWarnings warnings(bookWarning());
        for (const Page& page : pages_) {
            checkCancel();
            const std::string bytes = archive_->read(page.entry, UINT64_MAX);
            readPage(xhtmlPageOf(page, bytes), [&](const XhtmlPage& xhtml) {
                readXhtmlPage(xhtml, options_, sink, warnings);
            });
        }
        warnings.tellUntold("");
    }

private:
    Refusal refusalIn(std::string_view entry) const {
        return [this, entry = std::string(entry)](const std::string& reason) {
            throw FileError(bookFailure(archive_->name(), entry, reason));
        };
    }

    void warn(const std::string& message) const {
        if (options_.warning)
            options_.warning(quotedName(archive_->name().native()) + ": " + message);
    }

    // The warning that names the book before what it is told; none when nobody listens.
    WarningTally::Warning bookWarning() const {
        if (!options_.warning)
            return {};
        return [this](const std::string& message) {
            warn(message);
        };
    }

    void checkCancel() const {
        if (options_.cancel != nullptr && options_.cancel->load())
            throw ConversionCancelled(bookFailure(archive_->name(), "the reading was cancelled"));
    }

    void checkMimetype() const {
        if (!archive_->contains("mimetype"))
            throw FileError(bookFailure(archive_->name(),
                                        "it has no \"mimetype\" entry: it is not an EPUB book"));
        if (xml::trimmed(archive_->read("mimetype", 1024)) != "application/epub+zip")
            refusalIn("mimetype")("it does not say application/epub+zip: it is not an EPUB book");
    }

    void refuseEncrypted() const {
        if (!archive_->contains(encryptionEntry))
            return;
        const std::string encrypted = encryptedEntryOf(
            archive_->read(encryptionEntry, limits_.xmlBytes), refusalIn(encryptionEntry));
        if (!encrypted.empty())
            refusalIn(encrypted)("it is encrypted (DRM): the book cannot be read");
    }

    std::vector<TocEntry> tableOfContents(const Package& package) const;
    void placePages(const Package& package, const std::vector<TocEntry>& toc);
    void placeChapters(const std::vector<TocEntry>& toc);
    void checkReadingSize(const std::string& coverEntry) const;
    void readCover(const std::string& coverEntry);
    IdsByPage noteTargets() const;
    const IdsByPage& notes() const {
        if (!noteIds_)
            noteIds_ = noteTargets();
        return *noteIds_;
    }
    XhtmlPage xhtmlPageOf(const Page& page, std::string_view bytes) const;
    void readPage(const XhtmlPage& page,
                  const std::function<void(const XhtmlPage&)>& reading) const;

    std::unique_ptr<ZipArchive> archive_;
    DocumentOptions options_;
    EpubLimits limits_;
    DocumentMetadata metadata_;
    std::vector<Page> pages_;
    bool headingsAreChapters_ = false;
    bool collectNotes_ = false;
    bool notesByLinks_ = false; // the notes are left out as the targets of note references
    // Per page, the ids of the notes that note references point at, once collected: before
    // the reading where notes are left out by them, else once a page asks.
    mutable std::optional<IdsByPage> noteIds_;
};

// A table of contents that cannot be read is passed over with a warning, not the book.
struct TocFault {
    std::string reason;
};

std::vector<TocEntry> EpubDocument::tableOfContents(const Package& package) const {
    const auto entriesOf = [&](const std::string& entry, auto parse) -> std::vector<TocEntry> {
        if (entry.empty() || !archive_->contains(entry))
            return {};
        const std::string bytes = archive_->read(entry, limits_.xmlBytes);
        try {
            return parse(bytes, entry, [](const std::string& reason) { throw TocFault{reason}; });
        } catch (const TocFault& fault) {
            warn("the table of contents " + quotedEntry(entry) + " is left out: " + fault.reason);
            return {};
        }
    };
    std::vector<TocEntry> toc = entriesOf(package.navEntry, navEntries);
    return toc.empty() ? entriesOf(package.ncxEntry, ncxEntries) : toc;
}

// The pages read are the spine's items in its order, but for those marked linear="no"
// (notes, answers, pop-ups that a reader shows aside), unless the table of contents names
// them. Each table entry that points at a page read begins a chapter there; entries at one
// place make one chapter, their titles joined.
void EpubDocument::placePages(const Package& package, const std::vector<TocEntry>& toc) {
    std::set<std::string> named;
    for (const TocEntry& entry : toc)
        named.insert(entry.place.entry);
    WarningTally leftOut(bookWarning());
    for (const SpineItem& item : package.spine) {
        if (!item.linear && !named.contains(item.entry))
            continue;
        if (!isPageType(item.mediaType)) {
            leftOut.tell(quotedEntry(item.entry) + " is left out: its type " +
                         quotedValue(item.mediaType) + " is not XHTML");
            continue;
        }
        if (!archive_->contains(item.entry))
            refusalIn(item.entry)("the spine lists it, but the book does not hold it");
        pages_.push_back({.entry = item.entry,
                          .html = item.mediaType == "text/html",
                          .chaptersAt = {},
                          .chapterOrder = {}});
    }
    leftOut.tellUntold("", "pages of the spine are left out: their types are not XHTML");
    if (pages_.empty())
        throw FileError(bookFailure(archive_->name(), "it has no pages to read"));
    placeChapters(toc);
}

// An entry whose page the book does not hold is told of and left out; one that points at a
// page the spine does not read, left out.
void EpubDocument::placeChapters(const std::vector<TocEntry>& toc) {
    std::map<std::string_view, Page*> firstPageOf; // a table may be as long as the spine
    for (Page& page : pages_)
        firstPageOf.emplace(page.entry, &page);
    bool anyChapter = false;
    WarningTally missing(bookWarning());
    for (const TocEntry& entry : toc) {
        const auto found = firstPageOf.find(entry.place.entry);
        if (found == firstPageOf.end()) {
            if (missing.listened() && !archive_->contains(entry.place.entry))
                missing.tell(quotedEntry(entry.place.entry) +
                             ": the book does not hold it, where the chapter " +
                             quotedValue(entry.title) + " begins; the chapter is left out");
            continue;
        }
        auto [at, added] = found->second->chaptersAt.try_emplace(entry.place.fragment);
        if (added)
            found->second->chapterOrder.push_back(entry.place.fragment);
        std::string& title = at->second;
        if (title.empty())
            title = entry.title;
        else if (!entry.title.empty() && title.size() < maxJoinedTitleBytes)
            title += ": " + entry.title;
        anyChapter = true;
    }
    missing.tellUntold("", "chapters are left out: the book does not hold their pages");
    headingsAreChapters_ = !anyChapter;
}

void EpubDocument::checkReadingSize(const std::string& coverEntry) const {
    std::uint64_t total = 0;
    for (const Page& page : pages_) {
        archive_->check(page.entry, UINT64_MAX); // a bomb is refused before it is opened
        total += archive_->declaredSize(page.entry);
    }
    if (!coverEntry.empty() && archive_->contains(coverEntry))
        total += std::min(archive_->declaredSize(coverEntry), limits_.coverBytes);
    if (total > limits_.readingBytes)
        throw FileError(bookFailure(
            archive_->name(), "its pages are larger than " + sizeInWords(limits_.readingBytes) +
                                  " together (" + std::to_string(total) + " bytes)"));
}

// A cover that cannot serve as a picture tag is left out with a warning: the text still reads.
void EpubDocument::readCover(const std::string& coverEntry) {
    const std::string type = metadata_.coverType;
    metadata_.coverType.clear();
    if (coverEntry.empty())
        return;
    std::string reason;
    if (type != "image/jpeg" && type != "image/png")
        reason = "its type " + quotedValue(type) + " is neither image/jpeg nor image/png";
    else if (!archive_->contains(coverEntry))
        reason = "the book does not hold it";
    else if (archive_->declaredSize(coverEntry) > limits_.coverBytes)
        reason = "it is larger than " + sizeInWords(limits_.coverBytes);
    if (reason.empty()) {
        std::string bytes = archive_->read(coverEntry, limits_.coverBytes);
        if (coverBytesMatch(type, bytes)) {
            metadata_.coverType = type;
            metadata_.coverBytes = std::move(bytes);
            return;
        }
        reason = "its bytes are not " + type;
    }
    warn("the cover " + quotedEntry(coverEntry) + " is left out: " + reason);
}

// EPUB 2 marks no notes: their bodies are known only as the targets of note references
// anywhere in the book; and a link whose text is a number is a reference only when it leads to
// a note, which may be on any page. Only the ids are kept, one page read at a time.
IdsByPage EpubDocument::noteTargets() const {
    IdsByPage targets;
    IdsByPage noteLike;
    for (const Page& page : pages_) {
        checkCancel();
        const std::string bytes = archive_->read(page.entry, UINT64_MAX);
        readPage(xhtmlPageOf(page, bytes), [&](const XhtmlPage& xhtml) {
            PageNotes notes = notesOf(xhtml);
            for (const auto& [entry, id] : notes.targets)
                targets[entry].insert(id);
            noteLike[page.entry] = std::move(notes.noteLikeIds);
        });
    }
    return noteBodies(targets, noteLike);
}

XhtmlPage EpubDocument::xhtmlPageOf(const Page& page, std::string_view bytes) const {
    XhtmlPage xhtml{.bytes = bytes,
                    .name = page.entry,
                    .html = page.html,
                    .language = metadata_.language,
                    .chaptersAt = page.chaptersAt,
                    .chapterOrder = page.chapterOrder,
                    .headingsAreChapters = headingsAreChapters_,
                    .noteIds = {},
                    .bookNotes = {}};
    if (collectNotes_)
        xhtml.bookNotes = [this]() -> const IdsByPage& {
            return notes();
        };
    if (noteIds_ && notesByLinks_)
        if (const auto found = noteIds_->find(page.entry); found != noteIds_->end())
            xhtml.noteIds = found->second;
    return xhtml;
}

// The page reader names the page as it is; the message names the book as well, and the page
// quoted, as the book's entry names may hold anything.
void EpubDocument::readPage(const XhtmlPage& page,
                            const std::function<void(const XhtmlPage&)>& reading) const {
    try {
        reading(page);
    } catch (const ConversionCancelled&) {
        checkCancel(); // the book's words for it
        throw;
    } catch (const FileError& error) {
        std::string_view said = error.what();
        if (said.starts_with(bookFailure(archive_->name(), ""))) // another page's, in a pass
            throw;
        const std::string pageName = said.starts_with(page.name) ? quotedEntry(page.name) : "";
        said.remove_prefix(pageName.empty() ? 0 : page.name.size());
        throw FileError(bookFailure(archive_->name(), pageName + std::string(said)));
    }
}

} // namespace

std::unique_ptr<StructuredDocument> openEpubArchive(std::unique_ptr<ZipArchive> archive,
                                                    const DocumentOptions& options,
                                                    EpubLimits limits) {
    return std::make_unique<EpubDocument>(std::move(archive), options, limits);
}

std::unique_ptr<StructuredDocument> openEpub(const std::filesystem::path& file,
                                             const DocumentOptions& options) {
    // A FIFO would block the archive's opening; a folder is no book.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        throw FileError(bookFailure(file, error ? error.message() : "it is not a regular file"));
    return openEpubArchive(std::make_unique<ZipArchive>(file, duplicateOpenFile(options)), options);
}

} // namespace kestrova::speech
