#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

namespace kestrova::speech {

// pread and pwrite of a whole span at a place in a file, through interrupted and short calls.
// error keeps the first failure's errno (EIO for a write that wrote nothing); once it is set
// nothing more is done, so that a caller checks it once, at the end.

inline std::size_t readFullyAt(int fd, char* data, std::size_t size, off_t at, int& error) {
    std::size_t done = 0;
    while (done < size && error == 0) {
        const ssize_t got = ::pread(fd, data + done, size - done, at + static_cast<off_t>(done));
        if (got > 0)
            done += static_cast<std::size_t>(got);
        else if (got == 0)
            break;
        else if (errno != EINTR)
            error = errno;
    }
    return done;
}

inline void writeFullyAt(int fd, const char* data, std::size_t size, off_t at, int& error) {
    std::size_t done = 0;
    while (done < size && error == 0) {
        const ssize_t written =
            ::pwrite(fd, data + done, size - done, at + static_cast<off_t>(done));
        if (written > 0)
            done += static_cast<std::size_t>(written);
        else if (written == 0)
            error = EIO;
        else if (errno != EINTR)
            error = errno;
    }
}

} // namespace kestrova::speech
