#pragma once

#include "speech/text/unique_fd.h"

#include <filesystem>

namespace kestrova::speech {

// A new file that appears at its target path only when it is complete: it is written as a
// hidden temporary file beside the target and renamed onto it by commit(). Until then a
// file already at the target is untouched, and a pending file that is never committed is
// removed.
class PendingFile {
public:
    explicit PendingFile(std::filesystem::path target);
    ~PendingFile();
    PendingFile(PendingFile&&) = delete;
    PendingFile& operator=(PendingFile&&) = delete;

    int fd() const { return file_.get(); }
    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& temporaryPath() const { return temporary_; }

    // Flushes the data to disk when asked, then moves the file onto the target; without
    // replaceExisting it fails rather than replace a file already there.
    void commit(bool replaceExisting, bool syncToDisk);
    // Removes the temporary file now.
    void discard() noexcept;

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    UniqueFd file_;
    bool pending_ = true;
};

} // namespace kestrova::speech
