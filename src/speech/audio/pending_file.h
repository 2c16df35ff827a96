#pragma once

#include "speech/audio/temporary_file_guard.h"
#include "speech/base/unique_fd.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

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

    int fd() const { return file_.get(); }
    // True when written as an unnamed file, false on the fallback's temporary name.
    bool unnamed() const { return temporaryName_.empty(); }

    // Flushes the data to disk when asked, then gives the file its name; without
    // replaceExisting it fails rather than replace a file already there.
    void commit(bool replaceExisting, bool syncToDisk);
    // Removes the temporary file now.
    void discard() noexcept;

private:
    [[noreturn]] void fail(const std::string& reason) const;
    [[noreturn]] void failWithErrno(int error) const;
    void createNamed();
    void takeOwnerAndPermissions(const struct stat& replaced);
    int linkUnnamed(const std::string& name) const;
    std::string linkUnderTemporaryName() const;
    void closeFile();

    UniqueFd folder_;
    std::string name_;
    std::filesystem::path shownAs_;
    std::string fileKind_;
    UniqueFd file_;
    std::string temporaryName_; // empty while the file has no name
    std::optional<TemporaryFileGuard> guard_;
    bool pending_ = true;
};

} // namespace kestrova::speech
