// The one read and write loop: a span whole through short and interrupted calls, and how far
// it came when the file ended or a call failed.

#include "speech/base/unique_fd.h"
#include "speech/whole_io.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <thread>

namespace kestrova::speech {
namespace {

using namespace std::chrono_literals;

extern "C" void interruptOnly(int) {}

// The writer sends its bytes in pieces, and interrupts the reader between them with a signal
// whose handler does not restart the read: the read comes back whole all the same.
TEST(WholeIo, ReadsAcrossShortAndInterruptedReads) {
    struct sigaction action {};
    action.sa_handler = interruptOnly;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    const pthread_t readingThread = ::pthread_self();
    std::thread sender([&] {
        for (const std::string piece : {"first ", "second ", "third"}) {
            std::this_thread::sleep_for(20ms);
            ::pthread_kill(readingThread, SIGUSR2);
            std::this_thread::sleep_for(20ms);
            ASSERT_TRUE(writeAll(writer.get(), piece.data(), piece.size()).whole());
        }
        writer.reset();
    });
    std::string got(18, '\0');
    const Transfer whole = readAll(reader.get(), got.data(), got.size());
    EXPECT_TRUE(whole.whole());
    EXPECT_EQ(got, "first second third");
    char more[4] = {};
    const Transfer after = readAll(reader.get(), more, sizeof more);
    sender.join();
    EXPECT_TRUE(after.ended);
    EXPECT_EQ(after.done, 0u);
    EXPECT_EQ(after.failure(EIO), EIO);
    ::sigaction(SIGUSR2, &previous, nullptr);
}

// At a place in the file: what is past the end is short and ended, not a failure.
TEST(WholeIo, PositionedReadStopsAtTheEnd) {
    const UniqueFd file(::memfd_create("whole io", MFD_CLOEXEC));
    ASSERT_TRUE(file);
    ASSERT_TRUE(writeAllAt(file.get(), "0123456789", 10, 0).whole());
    ASSERT_TRUE(writeAllAt(file.get(), "ab", 2, 4).whole());
    char got[8] = {};
    const Transfer read = readAllAt(file.get(), got, sizeof got, 3);
    EXPECT_EQ(std::string(got, read.done), "3ab6789");
    EXPECT_TRUE(read.ended);
    EXPECT_EQ(read.error, 0);
}

// A socket whose reader is gone: the errno, and no SIGPIPE to end the test.
TEST(WholeIo, SendToAGoneReaderFailsWithItsErrno) {
    int ends[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const UniqueFd sender(ends[0]);
    ::close(ends[1]);
    const Transfer sent = sendAll(sender.get(), "lost", 4);
    EXPECT_FALSE(sent.whole());
    EXPECT_EQ(sent.error, EPIPE);
    EXPECT_EQ(sent.failure(EIO), EPIPE);
    const Transfer written = writeAll(-1, "x", 1);
    EXPECT_EQ(written.error, EBADF);
}

} // namespace
} // namespace kestrova::speech
