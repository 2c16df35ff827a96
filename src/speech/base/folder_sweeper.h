#pragma once

#include "speech/base/child_process.h"

#include <string>

namespace kestrova::speech {

// A child that removes a folder once this process is gone without removing it itself: killed,
// or ended by a signal it does not take. It waits on a socket whose other end only this
// process holds (close-on-exec, and every child forked without exec closes what it does not
// use), ignores the stop signals, and leads a process group of its own, so that a signal to
// this process's group ends the program at once and leaves the sweeper to it. Told by its
// owner that the folder is gone, it ends without touching anything.
class FolderSweeper {
public:
    // Starts it for the folder; a sweeper the system refuses is none (the folder then goes
    // only with its owner, as it would without one).
    explicit FolderSweeper(const std::string& folder);
    // Lets it go and waits for its end: it removes the folder unless told it is gone.
    ~FolderSweeper();
    FolderSweeper(const FolderSweeper&) = delete;
    FolderSweeper& operator=(const FolderSweeper&) = delete;

    // Tells it that its owner removed the folder: it then ends without touching anything.
    void folderRemoved();

private:
    ChildProcess child_;
};

} // namespace kestrova::speech
