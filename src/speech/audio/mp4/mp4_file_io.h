#pragma once

#include "speech/whole_io.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {

// The writer's file. First the encoded packets are appended to it; then the MP4 is written
// after them through FFmpeg's I/O, at the muxer's positions, and read back at a position of
// its own (moving the index to the front re-reads what was written); last, the MP4 is moved
// to the start and the file cut after it. Every write is checked, the first failure kept and
// nothing written after it. Positions count from where the descriptor stood when handed over,
// the muxer's from where the MP4 begins.
class Mp4FileIo {
public:
    Mp4FileIo(int fd, const std::atomic<bool>* cancel)
        : fd_(fd), start_(::lseek(fd, 0, SEEK_CUR)), base_(start_), cancel_(cancel) {}

    int error() const { return error_; }
    bool cancelled() const { return cancelled_; }
    std::int64_t written() const { return writePosition_; }

    void append(std::string_view bytes) { writeAt(bytes.data(), bytes.size()); }

    // Kept bytes at offset; fewer only past the end or on a failure (kept).
    std::size_t readKept(std::int64_t offset, char* data, std::size_t size) {
        return readFully(start_ + offset, data, size);
    }

    // The muxer's positions count from offset on.
    void beginMuxingAfter(std::int64_t offset) {
        base_ = start_ + offset;
        writePosition_ = readPosition_ = end_ = 0;
    }

    // The MP4 to the start of the file, and the file cut after it.
    void moveToStart() {
        std::vector<char> block(1 << 20);
        for (std::int64_t at = 0; at < end_ && error_ == 0;) {
            const auto size =
                static_cast<std::size_t>(std::min<std::int64_t>(end_ - at, std::ssize(block)));
            if (readFully(base_ + at, block.data(), size) != size && error_ == 0)
                error_ = EIO; // the file shrank under the writer
            putAt(start_ + at, block.data(), size);
            at += static_cast<std::int64_t>(size);
        }
        if (error_ == 0 && ::ftruncate(fd_, start_ + end_) != 0)
            error_ = errno;
    }

    static int write(void* io, std::uint8_t* data, int size) {
        auto* self = static_cast<Mp4FileIo*>(io);
        self->writeAt(data, static_cast<std::size_t>(size));
        return self->error_ != 0 ? AVERROR(self->error_) : size;
    }
    static std::int64_t seek(void* io, std::int64_t offset, int whence) {
        auto* self = static_cast<Mp4FileIo*>(io);
        return self->seekFrom(self->writePosition_, offset, whence);
    }
    static int read(void* io, std::uint8_t* data, int size) {
        auto* self = static_cast<Mp4FileIo*>(io);
        const std::size_t got = self->readFully(self->base_ + self->readPosition_, data,
                                                static_cast<std::size_t>(size));
        if (self->error_ != 0)
            return AVERROR(self->error_);
        self->readPosition_ += static_cast<std::int64_t>(got);
        return got == 0 ? AVERROR_EOF : static_cast<int>(got);
    }
    static std::int64_t seekReader(void* io, std::int64_t offset, int whence) {
        auto* self = static_cast<Mp4FileIo*>(io);
        return self->seekFrom(self->readPosition_, offset, whence);
    }
    void startReading() { readPosition_ = 0; }

private:
    void writeAt(const void* data, std::size_t size) {
        putAt(base_ + writePosition_, data, size);
        if (error_ == 0) {
            writePosition_ += static_cast<std::int64_t>(size);
            end_ = std::max(end_, writePosition_);
        }
    }

    void putAt(off_t offset, const void* data, std::size_t size) {
        if (error_ == 0 && cancel_ != nullptr && cancel_->load()) {
            cancelled_ = true;
            error_ = ECANCELED;
        }
        if (error_ == 0)
            error_ = writeAllAt(fd_, data, size, offset).failure(EIO);
    }

    std::size_t readFully(off_t offset, void* data, std::size_t size) {
        if (error_ != 0)
            return 0;
        const Transfer read = readAllAt(fd_, data, size, offset);
        error_ = read.error;
        return read.done;
    }

    std::int64_t seekFrom(std::int64_t& position, std::int64_t offset, int whence) {
        if ((whence & AVSEEK_SIZE) != 0)
            return end_;
        whence &= ~AVSEEK_FORCE;
        const std::int64_t target = whence == SEEK_SET   ? offset
                                    : whence == SEEK_CUR ? position + offset
                                                         : end_ + offset;
        if (target < 0)
            return AVERROR(EINVAL);
        position = target;
        return target;
    }

    int fd_;
    off_t start_;
    off_t base_;
    const std::atomic<bool>* cancel_;
    std::int64_t writePosition_ = 0;
    std::int64_t readPosition_ = 0;
    std::int64_t end_ = 0; // of what the muxer wrote
    int error_ = 0;
    bool cancelled_ = false;
};

// FFmpeg's I/O on the file: for the muxer to write (writing) or to read back what it wrote.
AVIOContext* newIoContext(Mp4FileIo& file, bool writing);
void freeIoContext(AVIOContext* io);
// The muxer's io_open and io_close2: it reopens its output only to read it back as it moves
// the index to the front.
int openForReading(AVFormatContext* muxer, AVIOContext** io, const char*, int flags,
                   AVDictionary**);
int closeReading(AVFormatContext*, AVIOContext* io);

} // namespace kestrova::speech
