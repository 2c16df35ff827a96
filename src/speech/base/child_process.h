#pragma once

#include "speech/base/unique_fd.h"

#include <atomic>
#include <functional>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrova::speech {

// How a child process ended: its wait status.
struct ChildEnd {
    int waitStatus = 0;

    bool exitedWith(int status) const;
    int exitStatus() const;     // 0 when killed
    int killingSignal() const;  // 0 when it exited
    std::string worded() const; // "exited with status 3", "was killed by signal Killed"
};

// The way a child and this process talk, if at all: a pipe from the child to this process,
// or a stream socket both ways.
enum class ChildChannel { None, Pipe, Socket };

struct ChildSetup {
    // The child gets it when this process dies; 0: none, the child outlives this process and
    // is told to end by its channel's closing.
    int deathSignal = SIGTERM;
    ChildChannel channel = ChildChannel::None;
    int socketBufferBytes = 0; // of a Socket's ends, both ways; 0 leaves the system's
};

// A shell command line run by a keeper (startCommand): the descriptors of this process that
// become its standard streams, and the files its keeper removes when the command is ended
// from outside, in order (a folder after the files in it).
struct CommandSetup {
    std::string line;
    int input = -1;
    int output = -1;
    int errors = -1;
    std::vector<std::string> removedWhenEnded;
};

// One forked child of this process, running a function of this program. The child gets its
// death signal when this process dies, and ends at once if this process died before that
// was set. A child still running when its handle goes gets the death signal too, as if this
// process had died, and is waited for; one without a death signal has its channel closed.
class ChildProcess {
public:
    // Runs in the child with the child's end of the channel (-1 without one) and ends it
    // with _exit; one that returns or throws ends it with status 1, never going back into
    // the program's copy.
    using Main = std::function<void(int channel)>;

    // Forks a child running main; empty, with errno saying why, when the system refused.
    // Only the calling thread goes on in the child: main must need no lock another holds.
    static std::optional<ChildProcess> start(const ChildSetup& setup, const Main& main);

    // Forks a keeper that runs setup.line through /bin/sh -c in a process group of its own
    // and ends as the shell did (its exit status, or killed by its signal), once every other
    // process of the group is killed too. The keeper's death signal (SIGTERM: this process
    // died, or sendSignal) kills the whole group and removes the files named. The channel is
    // a pipe the keeper holds open until it ends. Empty, with errno, when refused.
    static std::optional<ChildProcess> startCommand(const CommandSetup& setup);

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; } // not waited for yet
    // This process's end of the channel; -1 once closed or without one.
    int channel() const { return channel_.get(); }
    bool channelOpen() const { return static_cast<bool>(channel_); }
    void closeChannel() { channel_.reset(); }

    void sendSignal(int number) const; // nothing once waited for
    ChildEnd wait();                   // blocks until it ends

private:
    ChildProcess(pid_t pid, UniqueFd channel, int deathSignal)
        : pid_(pid), channel_(std::move(channel)), deathSignal_(deathSignal) {}
    void stop();

    pid_t pid_ = -1;
    UniqueFd channel_;
    int deathSignal_ = SIGTERM;
};

// Waits on the channels of several children at once, ready when one has something to read
// or has closed. A wait lasts a fifth of a second at a time, so that a cancel flag set
// meanwhile is seen.
class ChildPoll {
public:
    static constexpr int cancelCheckMilliseconds = 200;

    enum class Wait {
        Not,        // looks once
        OneCheck,   // a fifth of a second at most; a signal also ends it
        UntilReady, // checking the cancel flag every fifth of a second
    };
    enum class Outcome { Ready, NothingYet, Cancelled, Failed }; // Failed: errno says why

    explicit ChildPoll(const std::atomic<bool>* cancel = nullptr) : cancel_(cancel) {}

    // The channels watched are numbered from 0 in the order they were added.
    void watch(const ChildProcess& child);
    Outcome wait(Wait how);
    bool ready(std::size_t number) const { return watched_[number].revents != 0; }

private:
    std::vector<pollfd> watched_;
    const std::atomic<bool>* cancel_;
};

} // namespace kestrova::speech
