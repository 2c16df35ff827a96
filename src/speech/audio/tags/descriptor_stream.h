#pragma once

#include <atomic>
#include <sys/types.h>
#include <taglib/tiostream.h>

namespace kestrova::speech {

// TagLib's way into a file already open for reading and writing, by its descriptor, which
// stays open and the caller's. TagLib's own FileStream reports no failed write and closes the
// descriptor it is given; here every read and write is checked, the first failure kept
// (error()) and nothing written after it. A set cancel flag stops a long move of the file's
// bytes as a failure (ECANCELED).
class DescriptorStream : public TagLib::IOStream {
public:
    DescriptorStream(int fd, const std::atomic<bool>* cancel) : fd_(fd), cancel_(cancel) {}

    int error() const { return error_; }

    TagLib::FileName name() const override { return ""; }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    void insert(const TagLib::ByteVector& data, unsigned long start = 0,
                unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override { return false; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position position = Beginning) override;
    long tell() const override { return position_; }
    long length() override;
    void truncate(long length) override;

private:
    std::size_t readAt(char* data, std::size_t size, off_t at);
    void writeAt(const char* data, std::size_t size, off_t at);
    void moveBytes(off_t from, off_t end, off_t to);

    int fd_;
    const std::atomic<bool>* cancel_;
    long position_ = 0;
    int error_ = 0;
};

} // namespace kestrova::speech
