#include "speech/conversion/read_along/book_archive.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

namespace kestrova::speech::read_along {
namespace {

constexpr std::string_view mimetype = "application/epub+zip";

} // namespace

BookArchive::BookArchive(const std::filesystem::path& file, std::filesystem::path shownAs)
    : shownAs_(std::move(shownAs)) {
    int code = 0;
    archive_.reset(zip_open(file.c_str(), ZIP_CREATE | ZIP_EXCL, &code));
    if (!archive_) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        fail(reason);
    }
    const zip_int64_t index =
        add("mimetype", zip_source_buffer(archive_.get(), mimetype.data(), mimetype.size(), 0));
    if (zip_set_file_compression(archive_.get(), static_cast<zip_uint64_t>(index), ZIP_CM_STORE,
                                 0) != 0)
        failOfLibzip(archive_.get());
}

BookArchive::~BookArchive() = default;

void BookArchive::fail(const std::string& reason) const {
    throw FileError(outputFailure(shownAs_, reason, "read-along book"));
}

void BookArchive::failOfLibzip(zip_t* archive) const {
    fail(zip_strerror(archive));
}

void BookArchive::setTime(zip_uint64_t index) {
    // MS-DOS date and time fields: 2000-01-01 (years from 1980, month, day), 00:00:00.
    constexpr zip_uint16_t date2000 = (20 << 9) | (1 << 5) | 1;
    const int set = entryTime_ ? zip_file_set_mtime(archive_.get(), index, *entryTime_, 0)
                               : zip_file_set_dostime(archive_.get(), index, 0, date2000, 0);
    if (set != 0)
        failOfLibzip(archive_.get());
}

zip_int64_t BookArchive::add(const std::string& entry, zip_source_t* source) {
    if (source == nullptr)
        failOfLibzip(archive_.get());
    const zip_int64_t index = zip_file_add(archive_.get(), entry.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        failOfLibzip(archive_.get());
    }
    setTime(static_cast<zip_uint64_t>(index));
    return index;
}

void BookArchive::copyEntries(const std::filesystem::path& input,
                              const std::map<std::string, std::string>& replacements) {
    int code = 0;
    input_.reset(zip_open(input.c_str(), ZIP_RDONLY, &code));
    if (!input_)
        fail("its book cannot be opened again");
    const zip_int64_t count = zip_get_num_entries(input_.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        if (zip_stat_index(input_.get(), index, 0, &stat) != 0)
            failOfLibzip(input_.get());
        const std::string name = stat.name;
        if (i == 0 && (stat.valid & ZIP_STAT_MTIME) != 0) {
            entryTime_ = stat.mtime;
            setTime(0); // the mimetype's
        }
        if (name == "mimetype")
            continue;
        if (const auto replaced = replacements.find(name); replaced != replacements.end()) {
            addBytes(name, replaced->second);
            continue;
        }
        // Copied from the input's archive without being decompressed.
        zip_source_t* source = zip_source_zip(archive_.get(), input_.get(), index, 0, 0, -1);
        const zip_int64_t added = add(name, source);
        if ((stat.valid & ZIP_STAT_MTIME) != 0 &&
            zip_file_set_mtime(archive_.get(), static_cast<zip_uint64_t>(added), stat.mtime, 0) !=
                0)
            failOfLibzip(archive_.get());
    }
}

void BookArchive::addBytes(const std::string& entry, std::string bytes) {
    const std::string& held = added_.emplace_back(std::move(bytes));
    add(entry, zip_source_buffer(archive_.get(), held.data(), held.size(), 0));
}

void BookArchive::addStoredFile(const std::string& entry, const std::filesystem::path& file) {
    const zip_int64_t index = add(entry, zip_source_file(archive_.get(), file.c_str(), 0, -1));
    if (zip_set_file_compression(archive_.get(), static_cast<zip_uint64_t>(index), ZIP_CM_STORE,
                                 0) != 0)
        failOfLibzip(archive_.get());
}

std::optional<std::time_t> BookArchive::firstEntryTime(const std::filesystem::path& book) {
    int code = 0;
    const std::unique_ptr<zip_t, Discard> archive(zip_open(book.c_str(), ZIP_RDONLY, &code));
    zip_stat_t stat;
    if (archive && zip_stat_index(archive.get(), 0, 0, &stat) == 0 &&
        (stat.valid & ZIP_STAT_MTIME) != 0)
        return stat.mtime;
    return std::nullopt;
}

void BookArchive::close() {
    if (zip_close(archive_.get()) != 0)
        failOfLibzip(archive_.get());
    (void)archive_.release(); // zip_close freed it
}

} // namespace kestrova::speech::read_along
