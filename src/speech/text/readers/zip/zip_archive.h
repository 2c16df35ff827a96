#pragma once

#include "speech/base/unique_fd.h"
#include "speech/base/whole_file.h" // sizeInWords, for the limits in messages

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <zip.h>

namespace kestrova::speech {

// A book's failure as messages give it: "cannot read the book "PATH": REASON".
std::string bookFailure(const std::filesystem::path& book, const std::string& reason);
// ... and with the entry inside it: "cannot read the book "PATH": "ENTRY": REASON", the entry's
// name cut past longestDocumentName.
std::string bookFailure(const std::filesystem::path& book, std::string_view entry,
                        const std::string& reason);

// What a ZIP archive may make us hold. An entry's size is its uncompressed size; one that
// would expand more than ratio times from more than ratioCheckedAbove bytes is a bomb.
struct ZipLimits {
    std::uint64_t entryBytes = std::uint64_t{64} << 20;
    std::uint64_t ratio = 100;
    std::uint64_t ratioCheckedAbove = std::uint64_t{1} << 20;
    // libzip reads the whole central directory as it opens an archive, and cannot be stopped
    // there: a million entries take seconds. Books hold hundreds; the count the archive's end
    // record declares is checked before libzip opens it.
    std::uint64_t entries = 20'000;
};

// A ZIP archive opened read-only, its entries read into memory one at a time by name. Names
// are only looked up, never used as paths: nothing is written to disk, and an entry named
// "../x" or "/etc/x" is just an entry of that name. Failures throw FileError naming the
// archive, the entry and the reason.
class ZipArchive {
public:
    // The archive in a file; its central directory checked against its local headers.
    ZipArchive(const std::filesystem::path& file, ZipLimits limits = {});
    // The archive in a file already open as `file` (none: opened by its path); the archive
    // owns the descriptor.
    ZipArchive(const std::filesystem::path& name, UniqueFd file, ZipLimits limits = {});
    // An archive held in memory (the fuzz target's); messages name it as `name`.
    ZipArchive(std::string_view bytes, const std::filesystem::path& name, ZipLimits limits = {});

    const std::filesystem::path& name() const { return name_; }
    bool contains(std::string_view entry) const;
    // The entry's declared uncompressed size; throws when it is missing.
    std::uint64_t declaredSize(std::string_view entry) const;
    // Refuses the entry as read() would for its declared sizes, without reading it.
    void check(std::string_view entry, std::uint64_t maxBytes) const;
    // The entry's bytes, refused when its declared or actual size passes maxBytes (at most
    // the archive's own entry limit), when it is a bomb, or when it cannot be read.
    std::string read(std::string_view entry, std::uint64_t maxBytes) const;

private:
    struct ZipClose {
        void operator()(zip_t* archive) const { zip_discard(archive); }
    };
    struct Entry {
        std::uint64_t index = 0;
        std::uint64_t size = 0;
        std::uint64_t compressedSize = 0;
    };

    // Refuses an archive that declares more entries than the limit; size: the archive's bytes,
    // bytesAt(place, count): that many of them (fewer at the end).
    template <typename BytesAt> void checkEntryCount(std::uint64_t size, BytesAt&& bytesAt) const;
    Entry entry(std::string_view name) const;
    void checkSizes(std::string_view name, const Entry& found, std::uint64_t maxBytes) const;
    // zip_open or zip_fdopen, checked or not: the archive, or null with code set.
    zip_t* openArchive(const UniqueFd& file, int flags, int& code) const;
    [[noreturn]] void fail(std::string_view entry, const std::string& reason) const;

    std::filesystem::path name_;
    ZipLimits limits_;
    std::unique_ptr<zip_t, ZipClose> archive_;
};

} // namespace kestrova::speech
