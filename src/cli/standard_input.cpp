#include "standard_input.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::cli {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("cannot read standard input: ") + what + ": " +
                             std::strerror(errno));
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            fail("cannot keep a copy of it");
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
}

} // namespace

std::filesystem::path standardInputAsFile() {
    struct stat status {};
    if (::fstat(STDIN_FILENO, &status) != 0)
        fail("it is not open");
    if (S_ISREG(status.st_mode))
        return "/dev/stdin";
    const int copy = ::memfd_create("standard input", MFD_CLOEXEC);
    if (copy < 0)
        fail("cannot keep a copy of it");
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(copy);
            errno = error;
            fail("reading failed");
        }
        if (got == 0)
            break;
        try {
            writeAll(copy, buffer, static_cast<std::size_t>(got));
        } catch (...) {
            ::close(copy);
            throw;
        }
    }
    const bool replaced = ::dup2(copy, STDIN_FILENO) == STDIN_FILENO;
    const int error = errno;
    ::close(copy);
    errno = error;
    if (!replaced)
        fail("cannot keep a copy of it");
    return "/dev/stdin";
}

} // namespace kestrova::cli
