// TagLib's way into the pending file: bytes moved behind an insertion or a removal in blocks,
// from the right end, and a failed write kept rather than lost.

#include "speech/audio/tags/descriptor_stream.h"
#include "speech/base/unique_fd.h"
#include "support/test_support.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>

namespace kestrova::speech {
namespace {

using test::ScratchDir;

// Bytes no shifted copy of themselves equals: each position's own value.
std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// Three and a half blocks of the stream's moves, so that every move crosses blocks.
TEST(DescriptorStream, InsertsAndRemovesAcrossBlocks) {
    ScratchDir scratch;
    const std::string original = pattern((7u << 20) / 2 + 13);
    test::writeBytes(scratch / "file", original);
    const UniqueFd file(::open((scratch / "file").c_str(), O_RDWR | O_CLOEXEC));
    DescriptorStream stream(file.get(), nullptr);

    stream.insert(TagLib::ByteVector("grown", 5), 10, 2);
    std::string expected = original.substr(0, 10) + "grown" + original.substr(12);
    EXPECT_EQ(test::readBytes(scratch / "file"), expected);

    stream.removeBlock(3, 1000);
    expected.erase(3, 1000);
    EXPECT_EQ(test::readBytes(scratch / "file"), expected);

    stream.insert(TagLib::ByteVector("x", 1), 0, 4);
    expected = "x" + expected.substr(4);
    EXPECT_EQ(test::readBytes(scratch / "file"), expected);
    EXPECT_EQ(stream.length(), static_cast<long>(expected.size()));

    stream.seek(-6, TagLib::IOStream::End);
    EXPECT_EQ(stream.readBlock(100), TagLib::ByteVector(expected.data() + expected.size() - 6, 6));
    EXPECT_EQ(stream.error(), 0);
}

TEST(DescriptorStream, KeepsTheFirstFailedWrite) {
    ScratchDir scratch;
    test::writeBytes(scratch / "file", "read only");
    const UniqueFd file(::open((scratch / "file").c_str(), O_RDONLY | O_CLOEXEC));
    DescriptorStream stream(file.get(), nullptr);
    stream.writeBlock(TagLib::ByteVector("tags", 4));
    EXPECT_EQ(stream.error(), EBADF);
    EXPECT_EQ(test::readBytes(scratch / "file"), "read only");
}

} // namespace
} // namespace kestrova::speech
