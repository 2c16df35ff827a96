#include "speech/base/child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdexcept>
#include <string>
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

namespace child_process_test {

// A shell command run under its keeper with its output on a pipe read here; its input and
// standard error are the test's own.
struct KeptCommand {
    std::optional<ChildProcess> keeper;
    UniqueFd output;
};

KeptCommand keep(const std::string& line, std::vector<std::string> removed = {}) {
    int ends[2] = {-1, -1};
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd write(ends[1]);
    KeptCommand kept{.keeper = ChildProcess::startCommand({.line = line,
                                                           .input = 0,
                                                           .output = write.get(),
                                                           .errors = 2,
                                                           .removedWhenEnded = removed}),
                     .output = UniqueFd(ends[0])};
    EXPECT_TRUE(kept.keeper);
    return kept;
}

// The pid the command wrote first on its output.
pid_t firstPid(const KeptCommand& kept) {
    char line[32] = {};
    for (std::size_t got = 0; got < sizeof line - 1 && (got == 0 || line[got - 1] != '\n');) {
        const ssize_t read = ::read(kept.output.get(), line + got, 1);
        if (read <= 0)
            break;
        got += static_cast<std::size_t>(read);
    }
    return static_cast<pid_t>(std::atoi(line));
}

// How an adopted orphan ended: killed by SIGKILL when its group was killed.
int killingSignalOf(pid_t orphan) {
    int status = 0;
    return ::waitpid(orphan, &status, 0) == orphan ? ChildEnd{.waitStatus = status}.killingSignal()
                                                   : -1;
}

TEST(KeptCommand, EndsAsItsShellEnded) {
    EXPECT_TRUE(keep("exit 5").keeper->wait().exitedWith(5));
    EXPECT_EQ(keep("kill -TERM $$").keeper->wait().killingSignal(), SIGTERM);
}

// A process the command left in the background would hold its output open for ever.
TEST(KeptCommand, WhatTheShellLeftRunningIsKilledWhenItEnds) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    KeptCommand kept = keep("sleep 1000 & echo $!");
    const pid_t leftover = firstPid(kept);
    ASSERT_GT(leftover, 0);
    EXPECT_TRUE(kept.keeper->wait().exitedWith(0));
    EXPECT_EQ(killingSignalOf(leftover), SIGKILL);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// The keeper's death signal, which also comes when the process that started it dies, ends the
// whole group and removes the command's files.
TEST(KeptCommand, ItsDeathSignalKillsTheGroupAndRemovesTheFiles) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    char folder[] = "/tmp/kept-command-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/text.txt";
    std::FILE* text = std::fopen(file.c_str(), "w");
    ASSERT_NE(text, nullptr);
    std::fclose(text);
    KeptCommand kept = keep("sleep 1000 & echo $!; wait", {file, folder});
    const pid_t sleeping = firstPid(kept);
    ASSERT_GT(sleeping, 0);
    kept.keeper->sendSignal(SIGTERM);
    EXPECT_FALSE(kept.keeper->wait().exitedWith(0));
    EXPECT_EQ(killingSignalOf(sleeping), SIGKILL);
    EXPECT_NE(::access(folder, F_OK), 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

} // namespace child_process_test
} // namespace kestrova::speech
