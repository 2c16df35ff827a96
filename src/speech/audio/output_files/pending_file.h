#pragma once

#include "speech/audio/output_files/temporary_file_guard.h"
#include "speech/base/unique_fd.h"

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace kestrova::speech {

// A new file that takes its name in a folder only when it is complete. It is written as an
// unnamed file in that folder (O_TMPFILE), which vanishes with the process whatever ends it,
// SIGKILL included. Where the file system has no unnamed files it is written under a short
// hidden temporary name instead, removed on failure and on any signal that ends the process.
// Until commit() a file already at the name is untouched.
class PendingFile {
public:
    // The folder is held open: the file lands in it even if it is moved meanwhile. replaced,
    // when given, is the file now at the name: the new file takes its permission bits, and
    // its owner and group where this process may set them. shownAs names the file in
    // messages, and fileKind what it is.
    PendingFile(const std::filesystem::path& folder, std::string name,
                std::filesystem::path shownAs, const struct stat* replaced,
                std::string fileKind = "wave file");
    ~PendingFile();
    PendingFile(PendingFile&&) = delete;
    PendingFile& operator=(PendingFile&&) = delete;

    // Open for reading too: a complete file's tags are edited in place before it is named.
    int fd() const { return file_.get(); }
    // True when written as an unnamed file, false on the fallback's temporary name.
    bool unnamed() const { return temporaryName_.empty(); }

    // Flushes the data to disk when asked, then gives the file its name; without
    // replaceExisting it fails rather than replace a file already there.
    void commit(bool replaceExisting, bool syncToDisk);
    // Removes the temporary file now.
    void discard() noexcept;

    // Sets a complete file aside to be named later with others: flushed to disk when asked,
    // kept under a short hidden temporary name beside its name, and its descriptors closed,
    // the folder's too (reopened when it is named, and refused if it is no longer the same
    // folder). A thousand files waiting so hold no descriptor. Only a stop the program
    // handles removes it (the destructor does); SIGKILL leaves it under that hidden name.
    void park(bool syncToDisk);
    // Names parked files as one set, fast: each a rename, the folders flushed once at the
    // end when asked. Each old file at a name is kept aside under a hidden name until every
    // file has its name; on a failure, or when cancel is set before the last is named, the
    // old files are put back, the new ones removed, and it throws (ConversionCancelled for
    // the cancel).
    static void nameTogether(const std::vector<PendingFile*>& files, bool replaceExisting,
                             bool syncToDisk, const std::atomic<bool>* cancel);

private:
    [[noreturn]] void fail(const std::string& reason) const;
    [[noreturn]] void failWithErrno(int error) const;
    void createNamed();
    void takeOwnerAndPermissions(const struct stat& replaced);
    int linkUnnamed(const std::string& name) const;
    std::string linkUnderTemporaryName() const;
    void closeFile();
    UniqueFd reopenFolder() const;
    void nameParked(bool replaceExisting);
    std::string linkOldAside(int folder) const;
    void unname() noexcept;
    void dropOld() noexcept;

    UniqueFd folder_; // closed while parked
    std::filesystem::path folderPath_;
    std::pair<dev_t, ino_t> folderIdentity_{};
    std::string name_;
    std::filesystem::path shownAs_;
    std::string fileKind_;
    UniqueFd file_;
    std::string temporaryName_; // empty while the file has no name
    std::optional<TemporaryFileGuard> guard_;
    bool pending_ = true;
    bool named_ = false;      // named by nameTogether, which may still take the name back
    std::string oldFileName_; // the old file at the name, kept aside meanwhile
};

} // namespace kestrova::speech
