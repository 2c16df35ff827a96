#include "speech/base/child_process.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

ChildEnd endOf(const ChildProcess::Main& main) {
    std::optional<ChildProcess> child = ChildProcess::start({}, main);
    return child ? child->wait() : ChildEnd{.waitStatus = -1};
}

[[noreturn]] void waitForever(int) {
    for (;;)
        ::pause();
}

// The words a batch and the worker pool put into their messages; a main that returns or
// throws never goes back into the program's copy.
TEST(ChildProcess, WordsHowItsChildEnded) {
    const ChildEnd exited = endOf([](int) { ::_exit(3); });
    EXPECT_TRUE(exited.exitedWith(3));
    EXPECT_EQ(exited.worded(), "exited with status 3");
    const ChildEnd killed = endOf([](int) { ::raise(SIGKILL); });
    EXPECT_EQ(killed.killingSignal(), SIGKILL);
    EXPECT_EQ(killed.worded(), "was killed by signal Killed");
    EXPECT_TRUE(endOf([](int) {}).exitedWith(1));
    EXPECT_TRUE(endOf([](int) { throw std::runtime_error("thrown"); }).exitedWith(1));
}

// The middle child says its child's pid once that child has its death signal set, then
// ends without stopping it: the orphan comes to this process, which sees how it ended.
TEST(ChildProcess, ChildGetsItsDeathSignalWhenItsParentDies) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    std::optional<ChildProcess> middle =
        ChildProcess::start({.channel = ChildChannel::Pipe}, [](int toTest) {
            std::optional<ChildProcess> child = ChildProcess::start(
                {.deathSignal = SIGUSR1, .channel = ChildChannel::Pipe}, [](int toMiddle) {
                    const pid_t self = ::getpid();
                    (void)!::write(toMiddle, &self, sizeof self);
                    waitForever(toMiddle);
                });
            pid_t pid = -1;
            if (child)
                (void)!::read(child->channel(), &pid, sizeof pid);
            (void)!::write(toTest, &pid, sizeof pid);
            ::_exit(0);
        });
    ASSERT_TRUE(middle);
    pid_t orphan = -1;
    ASSERT_EQ(::read(middle->channel(), &orphan, sizeof orphan), ssize_t{sizeof orphan});
    ASSERT_GT(orphan, 0);
    EXPECT_TRUE(middle->wait().exitedWith(0));
    int status = 0;
    ASSERT_EQ(::waitpid(orphan, &status, 0), orphan);
    EXPECT_EQ(ChildEnd{.waitStatus = status}.killingSignal(), SIGUSR1);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST(ChildProcess, AHandleThatGoesEndsItsChildAndWaitsForIt) {
    pid_t pid = -1;
    {
        std::optional<ChildProcess> child =
            ChildProcess::start({.deathSignal = SIGUSR1}, waitForever);
        ASSERT_TRUE(child);
        pid = child->pid();
    }
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
} // namespace kestrova::speech
