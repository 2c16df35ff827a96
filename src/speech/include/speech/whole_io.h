#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace kestrova::speech {

// A whole span read or written, through interrupted and short calls, at the descriptor's own
// offset or at a place in the file. done: the bytes moved; error: the errno of the call that
// failed, 0 if none did; ended: a call moved nothing (a read at the end of the file, a write
// the file took nothing of). Either stops the span short.
struct Transfer {
    std::size_t done = 0;
    int error = 0;
    bool ended = false;

    bool whole() const { return error == 0 && !ended; }
    // The failure as one errno, with whenEnded for a span the file ended short of.
    int failure(int whenEnded) const { return error != 0 ? error : ended ? whenEnded : 0; }
};

namespace whole_io {

// move(done) makes one call for the rest of the span, from done on.
template <typename Move> Transfer transfer(std::size_t size, Move move) {
    Transfer result;
    while (result.done < size) {
        const ssize_t moved = move(result.done);
        if (moved > 0) {
            result.done += static_cast<std::size_t>(moved);
        } else if (moved == 0) {
            result.ended = true;
            break;
        } else if (errno != EINTR) {
            result.error = errno;
            break;
        }
    }
    return result;
}

} // namespace whole_io

inline Transfer readAll(int fd, void* data, std::size_t size) {
    return whole_io::transfer(size, [&](std::size_t done) {
        return ::read(fd, static_cast<char*>(data) + done, size - done);
    });
}

inline Transfer writeAll(int fd, const void* data, std::size_t size) {
    return whole_io::transfer(size, [&](std::size_t done) {
        return ::write(fd, static_cast<const char*>(data) + done, size - done);
    });
}

// Through send(), which spares the process SIGPIPE when the reader is gone.
inline Transfer sendAll(int socket, const void* data, std::size_t size) {
    return whole_io::transfer(size, [&](std::size_t done) {
        return ::send(socket, static_cast<const char*>(data) + done, size - done, MSG_NOSIGNAL);
    });
}

inline Transfer readAllAt(int fd, void* data, std::size_t size, off_t at) {
    return whole_io::transfer(size, [&](std::size_t done) {
        return ::pread(fd, static_cast<char*>(data) + done, size - done,
                       at + static_cast<off_t>(done));
    });
}

inline Transfer writeAllAt(int fd, const void* data, std::size_t size, off_t at) {
    return whole_io::transfer(size, [&](std::size_t done) {
        return ::pwrite(fd, static_cast<const char*>(data) + done, size - done,
                        at + static_cast<off_t>(done));
    });
}

} // namespace kestrova::speech
