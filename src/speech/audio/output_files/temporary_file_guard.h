#pragma once

#include <string>

namespace kestrova::speech {

// Removes a named temporary file when the process ends before the file is done with: by a
// signal whose default is to end the process, or by exit(). The signals' one owner
// (StopSignalOwner) removes it and then ends the process with the same signal. One file per
// process at a time: a second guard while one is active guards nothing.
class TemporaryFileGuard {
public:
    // folder: an open descriptor of the folder holding the file, kept open by the caller.
    TemporaryFileGuard(int folder, const std::string& name);
    ~TemporaryFileGuard();
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

    bool active() const { return active_; }

private:
    bool active_ = false;
};

} // namespace kestrova::speech
