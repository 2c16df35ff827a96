#pragma once

#include "speech/base/folder_sweeper.h"

#include <string>
#include <vector>

namespace kestrova::speech {

// A folder of this process's own (mode 0700) under $TMPDIR, else /tmp, for the files a voice
// command reads and writes; removed with the files named in it when it goes, and by its
// sweeper, whatever it holds, when this process dies first (SIGKILL, the OOM killer).
class PrivateFolder {
public:
    PrivateFolder(); // throws SpeechError when it cannot be made
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // The path of a file in it, removed with it.
    std::string file(const std::string& name);
    // The files named so far, removed now: the folder stays for the next.
    void removeFiles() noexcept;
    // The files named, then the folder: what is removed, in order.
    std::vector<std::string> removed() const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_;
    FolderSweeper sweeper_; // started once the folder is there
};

} // namespace kestrova::speech
