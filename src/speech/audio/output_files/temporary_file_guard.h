#pragma once

#include <csignal>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::speech {

// Removes a named temporary file when the process ends before the file is done with: by a
// signal whose default is to end the process, or by exit(). Such signals get a handler that
// removes the file and then ends the process with the same signal; handlers of the program's
// own, and ignored signals, stay as they are. One file per process at a time: a second guard
// while one is active guards nothing.
class TemporaryFileGuard {
public:
    // folder: an open descriptor of the folder holding the file, kept open by the caller.
    TemporaryFileGuard(int folder, const std::string& name);
    ~TemporaryFileGuard();
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

    bool active() const { return active_; }

private:
    std::vector<std::pair<int, struct sigaction>> replaced_;
    bool active_ = false;
};

} // namespace kestrova::speech
