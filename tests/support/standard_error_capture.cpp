#include "support/standard_error_capture.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::test {

StandardErrorCapture::StandardErrorCapture() {
    capture_ = ::open(std::filesystem::temp_directory_path().c_str(),
                      O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (capture_ < 0)
        throw std::runtime_error("cannot make a file for standard error");
    std::fflush(stderr);
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_ < 0 || ::dup2(capture_, STDERR_FILENO) < 0) {
        ::close(capture_);
        if (saved_ >= 0)
            ::close(saved_);
        throw std::runtime_error("cannot redirect standard error");
    }
}

StandardErrorCapture::~StandardErrorCapture() {
    release();
}

std::string StandardErrorCapture::release() {
    if (saved_ < 0)
        return {};
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
    std::string text;
    char buffer[4096];
    off_t at = 0;
    for (ssize_t got; (got = ::pread(capture_, buffer, sizeof buffer, at)) > 0; at += got)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(capture_);
    capture_ = -1;
    return text;
}

std::vector<std::string> linesStartingWith(std::string_view text, std::string_view prefix) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (line.starts_with(prefix))
            lines.emplace_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

} // namespace kestrova::test
