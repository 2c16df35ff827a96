#include "standard_input.h"

#include "speech/stop_signal_owner.h"
#include "speech/whole_io.h"

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

void keepCopy(int fd, const char* data, std::size_t size) {
    if (const speech::Transfer written = speech::writeAll(fd, data, size); !written.whole()) {
        errno = written.failure(EIO);
        fail("cannot keep a copy of it");
    }
}

// While the copy waits on a writer that may never end, a stop signal ends the process as the
// signal does: nothing has been written yet, and a read restarted would hold the stop off.
class StopsReleased {
public:
    StopsReleased() { speech::StopSignalOwner::releaseStops(); }
    ~StopsReleased() { speech::StopSignalOwner::takeStops(); }
    StopsReleased(const StopsReleased&) = delete;
    StopsReleased& operator=(const StopsReleased&) = delete;
};

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
    const StopsReleased released;
    for (bool ended = false; !ended;) {
        const speech::Transfer read = speech::readAll(STDIN_FILENO, buffer, sizeof buffer);
        if (read.error != 0) {
            ::close(copy);
            errno = read.error;
            fail("reading failed");
        }
        ended = read.ended;
        try {
            keepCopy(copy, buffer, read.done);
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
