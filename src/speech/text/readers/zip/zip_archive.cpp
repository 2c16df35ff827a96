#include "speech/text/readers/zip/zip_archive.h"

#include "speech/base/unique_fd.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace kestrova::speech {

namespace {

// libzip's words, as the system's are shown elsewhere; "Not a zip archive" in ours.
std::string zipReason(zip_error_t& error) {
    if (zip_error_code_zip(&error) == ZIP_ER_NOZIP)
        return "it is not a ZIP archive";
    return zip_error_strerror(&error);
}

std::string reasonOfCode(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string reason = zipReason(error);
    zip_error_fini(&error);
    return reason;
}

std::uint64_t littleEndian(std::string_view bytes, std::size_t at, std::size_t length) {
    std::uint64_t value = 0;
    for (std::size_t i = length; i > 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i - 1]);
    return value;
}

// The entries the end of central directory record declares (ZIP64's where it defers to it),
// in the archive's last bytes; nullopt where there is none to read, which libzip then reports.
template <typename BytesAt>
std::optional<std::uint64_t> declaredEntryCount(std::uint64_t size, BytesAt&& bytesAt) {
    constexpr std::size_t endRecord = 22;
    constexpr std::size_t longestComment = 0xFFFF;
    constexpr std::size_t zip64Locator = 20;
    const std::size_t tailSize = static_cast<std::size_t>(
        std::min<std::uint64_t>(size, endRecord + longestComment + zip64Locator));
    const std::string tail = bytesAt(size - tailSize, tailSize);
    const std::size_t end = tail.rfind("PK\x05\x06");
    if (end == std::string::npos || tail.size() - end < endRecord)
        return std::nullopt;
    const std::uint64_t entries = littleEndian(tail, end + 10, 2);
    if (entries != 0xFFFF || end < zip64Locator ||
        tail.compare(end - zip64Locator, 4, "PK\x06\x07") != 0)
        return entries;
    const std::string zip64End = bytesAt(littleEndian(tail, end - zip64Locator + 8, 8), 56);
    if (zip64End.size() < 40 || !zip64End.starts_with("PK\x06\x06"))
        return std::nullopt;
    return littleEndian(zip64End, 32, 8);
}

struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

// The bytes opened without libzip's checks of consistency; nullptr where they cannot be.
zip_t* uncheckedArchive(std::string_view bytes) {
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, nullptr);
    zip_t* archive =
        source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, nullptr) : nullptr;
    if (archive == nullptr)
        zip_source_free(source);
    return archive;
}

// libzip's checks refuse two entries of one name as "File already exists"; opened again
// without them, the archive tells which name it is, for a reason in our words.
std::string sharedNameReason(zip_t* unchecked) {
    const std::unique_ptr<zip_t, ZipDiscard> archive(unchecked);
    std::set<std::string_view> names;
    const zip_int64_t count = archive ? zip_get_num_entries(archive.get(), 0) : 0;
    for (zip_int64_t index = 0; index < count; ++index) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(index), 0);
        if (name != nullptr && !names.insert(name).second)
            return "two of its entries are named " + quotedValue(name, longestDocumentName) +
                   ": a book's entries are found by name";
    }
    return "two of its entries have one name: a book's entries are found by name";
}

} // namespace

std::string bookFailure(const std::filesystem::path& book, const std::string& reason) {
    return "cannot read the book " + quotedName(book.native()) + ": " + reason;
}

std::string bookFailure(const std::filesystem::path& book, std::string_view entry,
                        const std::string& reason) {
    return bookFailure(book, quotedValue(entry, longestDocumentName) + ": " + reason);
}

std::string sizeInWords(std::uint64_t bytes) {
    constexpr std::uint64_t mebibyte = std::uint64_t{1} << 20;
    if (bytes >= mebibyte && bytes % mebibyte == 0)
        return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

template <typename BytesAt>
void ZipArchive::checkEntryCount(std::uint64_t size, BytesAt&& bytesAt) const {
    const std::optional<std::uint64_t> entries = declaredEntryCount(size, bytesAt);
    if (entries && *entries > limits_.entries)
        throw FileError(bookFailure(
            name_, "it declares " + std::to_string(*entries) + " entries, more than the " +
                       std::to_string(limits_.entries) + " a book may hold"));
}

ZipArchive::ZipArchive(const std::filesystem::path& file, ZipLimits limits)
    : name_(file), limits_(limits) {
    if (const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)); fd) {
        struct stat status {};
        if (::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode))
            checkEntryCount(static_cast<std::uint64_t>(status.st_size), [&](std::uint64_t at,
                                                                            std::size_t count) {
                std::string bytes(count, '\0');
                bytes.resize(readAllAt(fd.get(), bytes.data(), count, static_cast<off_t>(at)).done);
                return bytes;
            });
    }
    int code = ZIP_ER_OK;
    archive_.reset(zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive_ && code == ZIP_ER_EXISTS)
        throw FileError(
            bookFailure(name_, sharedNameReason(zip_open(file.c_str(), ZIP_RDONLY, &code))));
    if (!archive_)
        throw FileError(bookFailure(name_, reasonOfCode(code)));
}

// The bytes must outlive the archive: the source reads them where they are.
ZipArchive::ZipArchive(std::string_view bytes, const std::filesystem::path& name, ZipLimits limits)
    : name_(name), limits_(limits) {
    checkEntryCount(bytes.size(), [&](std::uint64_t at, std::size_t count) {
        return std::string(bytes.substr(std::min<std::uint64_t>(at, bytes.size()), count));
    });
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (source != nullptr)
        archive_.reset(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive_) {
        zip_source_free(source);
        std::string reason = zipReason(error);
        if (zip_error_code_zip(&error) == ZIP_ER_EXISTS)
            reason = sharedNameReason(uncheckedArchive(bytes));
        zip_error_fini(&error);
        throw FileError(bookFailure(name_, reason));
    }
    zip_error_fini(&error);
}

void ZipArchive::fail(std::string_view entry, const std::string& reason) const {
    throw FileError(bookFailure(name_, entry, reason));
}

bool ZipArchive::contains(std::string_view entry) const {
    return zip_name_locate(archive_.get(), std::string(entry).c_str(), 0) >= 0;
}

ZipArchive::Entry ZipArchive::entry(std::string_view name) const {
    const zip_int64_t index = zip_name_locate(archive_.get(), std::string(name).c_str(), 0);
    if (index < 0)
        fail(name, "no such entry in the book");
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0)
        fail(name, zipReason(*zip_get_error(archive_.get())));
    if ((stat.valid & ZIP_STAT_SIZE) == 0 || (stat.valid & ZIP_STAT_COMP_SIZE) == 0)
        fail(name, "its size is not given");
    return {.index = static_cast<std::uint64_t>(index),
            .size = stat.size,
            .compressedSize = stat.comp_size};
}

std::uint64_t ZipArchive::declaredSize(std::string_view entry) const {
    return this->entry(entry).size;
}

void ZipArchive::checkSizes(std::string_view name, const Entry& found,
                            std::uint64_t maxBytes) const {
    if (found.size > maxBytes)
        fail(name, "it is larger than " + sizeInWords(maxBytes) + " (" +
                       std::to_string(found.size) + " bytes declared)");
    // Deflate cannot expand more than about 1032 times: a larger ratio is a forged size, a
    // lesser but large one a bomb built to exhaust memory.
    if (found.size > limits_.ratioCheckedAbove &&
        (found.compressedSize == 0 || found.size / found.compressedSize > limits_.ratio))
        fail(name, "it would expand more than " + std::to_string(limits_.ratio) +
                       " times (a ZIP bomb): " + std::to_string(found.compressedSize) +
                       " bytes to " + std::to_string(found.size));
}

void ZipArchive::check(std::string_view name, std::uint64_t maxBytes) const {
    checkSizes(name, entry(name), std::min(maxBytes, limits_.entryBytes));
}

std::string ZipArchive::read(std::string_view name, std::uint64_t maxBytes) const {
    maxBytes = std::min(maxBytes, limits_.entryBytes);
    const Entry found = entry(name);
    checkSizes(name, found, maxBytes);
    std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(archive_.get(), found.index, 0));
    if (!file)
        fail(name, zipReason(*zip_get_error(archive_.get())));
    // Read in bounded pieces up to the declared size and one byte past it: the data, not the
    // header, decides what is held, and no more than the declared size ever is.
    std::string bytes(static_cast<std::size_t>(found.size), '\0');
    std::size_t filled = 0;
    constexpr std::size_t pieceBytes = 1 << 16;
    while (filled < bytes.size()) {
        const std::size_t want = std::min(pieceBytes, bytes.size() - filled);
        const zip_int64_t got = zip_fread(file.get(), bytes.data() + filled, want);
        if (got < 0)
            fail(name, zipReason(*zip_file_get_error(file.get())));
        if (got == 0)
            fail(name,
                 "its data is shorter than its declared " + std::to_string(found.size) + " bytes");
        filled += static_cast<std::size_t>(got);
    }
    char extra = 0;
    const zip_int64_t beyond = zip_fread(file.get(), &extra, 1);
    if (beyond < 0)
        fail(name, zipReason(*zip_file_get_error(file.get())));
    if (beyond > 0)
        fail(name, "its data is longer than its declared " + std::to_string(found.size) + " bytes");
    return bytes;
}

} // namespace kestrova::speech
