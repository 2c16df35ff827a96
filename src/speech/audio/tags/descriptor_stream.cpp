#include "descriptor_stream.h"

#include "speech/whole_io.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

// The bytes behind an insertion or a removal move in blocks of this size.
constexpr off_t moveBlockBytes = 1 << 20;

} // namespace

TagLib::ByteVector DescriptorStream::readBlock(unsigned long length) {
    const long size = std::max(0L, std::min(static_cast<long>(length), this->length() - position_));
    TagLib::ByteVector block(static_cast<unsigned int>(size), '\0');
    const std::size_t got = readAt(block.data(), block.size(), position_);
    block.resize(static_cast<unsigned int>(got));
    position_ += static_cast<long>(got);
    return block;
}

void DescriptorStream::writeBlock(const TagLib::ByteVector& data) {
    writeAt(data.data(), data.size(), position_);
    position_ += static_cast<long>(data.size());
}

void DescriptorStream::insert(const TagLib::ByteVector& data, unsigned long start,
                              unsigned long replace) {
    const auto at = static_cast<off_t>(start);
    if (data.size() < replace) {
        writeAt(data.data(), data.size(), at);
        removeBlock(start + data.size(), replace - data.size());
        return;
    }
    const off_t grow = static_cast<off_t>(data.size() - replace);
    if (grow > 0)
        moveBytes(at + static_cast<off_t>(replace), length(),
                  at + static_cast<off_t>(replace) + grow);
    writeAt(data.data(), data.size(), at);
}

void DescriptorStream::removeBlock(unsigned long start, unsigned long length) {
    const off_t end = this->length();
    const auto from = static_cast<off_t>(start + length);
    if (length == 0 || from > end)
        return;
    moveBytes(from, end, static_cast<off_t>(start));
    truncate(static_cast<long>(end - static_cast<off_t>(length)));
}

void DescriptorStream::seek(long offset, Position position) {
    position_ = position == Beginning ? offset
                : position == Current ? position_ + offset
                                      : length() + offset;
}

long DescriptorStream::length() {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        error_ = error_ != 0 ? error_ : errno;
        return 0;
    }
    return static_cast<long>(status.st_size);
}

void DescriptorStream::truncate(long length) {
    if (error_ == 0 && ::ftruncate(fd_, length) != 0)
        error_ = errno;
}

std::size_t DescriptorStream::readAt(char* data, std::size_t size, off_t at) {
    if (error_ != 0)
        return 0;
    const Transfer read = readAllAt(fd_, data, size, at);
    error_ = read.error;
    return read.done;
}

void DescriptorStream::writeAt(const char* data, std::size_t size, off_t at) {
    if (error_ == 0)
        error_ = writeAllAt(fd_, data, size, at).failure(EIO);
}

// Moves the bytes from..end to begin at to: from the back when they move towards the end,
// so that none is overwritten before it is moved.
void DescriptorStream::moveBytes(off_t from, off_t end, off_t to) {
    std::vector<char> block(static_cast<std::size_t>(moveBlockBytes));
    const off_t total = end - from;
    for (off_t done = 0; done < total && error_ == 0;) {
        if (cancel_ != nullptr && cancel_->load()) {
            error_ = ECANCELED;
            return;
        }
        const off_t size = std::min(moveBlockBytes, total - done);
        const off_t offset = to > from ? total - done - size : done;
        const std::size_t got = readAt(block.data(), static_cast<std::size_t>(size), from + offset);
        if (got != static_cast<std::size_t>(size) && error_ == 0)
            error_ = EIO; // the file shrank meanwhile
        writeAt(block.data(), got, to + offset);
        done += size;
    }
}

} // namespace kestrova::speech
