#pragma once

#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <zip.h>

namespace kestrova::speech::read_along {

// A new EPUB archive written by libzip into a file of its own: the mimetype entry first and
// stored, then each entry of the input book in its order, copied as it is unless replaced,
// then the entries added. Failures throw FileError naming the book to be written.
class BookArchive {
public:
    // shownAs names the book in messages; file is where libzip writes it.
    BookArchive(const std::filesystem::path& file, std::filesystem::path shownAs);
    ~BookArchive();
    BookArchive(const BookArchive&) = delete;
    BookArchive& operator=(const BookArchive&) = delete;

    // Every entry of the input but mimetype, each as replacements gives it where it names it.
    void copyEntries(const std::filesystem::path& input,
                     const std::map<std::string, std::string>& replacements);
    void addBytes(const std::string& entry, std::string bytes);
    // A file's bytes, stored without compression (audio gains nothing from it).
    void addStoredFile(const std::string& entry, const std::filesystem::path& file);
    // Writes the archive out and closes it.
    void close();

    // The time of the book's first entry (its mimetype), which every new entry gets; none
    // where it has none. A zip's times are wall-clock fields with no zone: libzip makes them
    // a time_t through the local zone, and localtime_r gives the same fields back in any zone.
    static std::optional<std::time_t> firstEntryTime(const std::filesystem::path& book);

private:
    struct Discard {
        void operator()(zip_t* archive) const { zip_discard(archive); }
    };
    [[noreturn]] void fail(const std::string& reason) const;
    [[noreturn]] void failOfLibzip(zip_t* archive) const;
    zip_int64_t add(const std::string& entry, zip_source_t* source);
    void setTime(zip_uint64_t index);

    std::filesystem::path shownAs_;
    // The bytes added, held until the archive is written.
    std::deque<std::string> added_;
    // Every entry made here gets the time of the input's first entry, so that the archive's
    // bytes depend on the book alone; none: 2000-01-01 00:00, set as the zip's own fields so
    // that no zone changes it.
    std::optional<std::time_t> entryTime_;
    std::unique_ptr<zip_t, Discard> input_;
    std::unique_ptr<zip_t, Discard> archive_;
};

} // namespace kestrova::speech::read_along
