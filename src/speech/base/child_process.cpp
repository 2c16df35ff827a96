#include "child_process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace kestrova::speech {
namespace {

// This process's end and the child's; false, with errno saying why, when refused.
bool openChannel(const ChildSetup& setup, UniqueFd& ours, UniqueFd& theirs) {
    int ends[2] = {-1, -1};
    if (setup.channel == ChildChannel::Pipe && ::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    if (setup.channel == ChildChannel::Socket &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    ours.reset(ends[0]);
    theirs.reset(ends[1]);
    if (setup.channel != ChildChannel::Socket || setup.socketBufferBytes <= 0)
        return true;
    const int bytes = setup.socketBufferBytes;
    for (const int end : ends) {
        ::setsockopt(end, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
        ::setsockopt(end, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    return true;
}

[[noreturn]] void runChild(const ChildSetup& setup, pid_t parent, UniqueFd ours, int theirs,
                           const ChildProcess::Main& main) {
    ::prctl(PR_SET_PDEATHSIG, setup.deathSignal);
    if (::getppid() != parent)
        ::_exit(1); // the parent died before the line above took effect
    ours.reset();
    try {
        main(theirs);
    } catch (...) {
        // Unwinding would run the program's own code in its copy: end here instead.
    }
    ::_exit(1);
}

} // namespace

bool ChildEnd::exitedWith(int status) const {
    return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == status;
}

int ChildEnd::exitStatus() const {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 0;
}

int ChildEnd::killingSignal() const {
    return WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0;
}

std::string ChildEnd::worded() const {
    if (killingSignal() != 0)
        return std::string("was killed by signal ") + ::strsignal(killingSignal());
    return "exited with status " + std::to_string(exitStatus());
}

std::optional<ChildProcess> ChildProcess::start(const ChildSetup& setup, const Main& main) {
    UniqueFd ours;
    UniqueFd theirs;
    if (!openChannel(setup, ours, theirs))
        return std::nullopt;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        runChild(setup, parent, std::move(ours), theirs.get(), main);
    if (pid < 0) {
        const int error = errno;
        ours.reset();
        theirs.reset();
        errno = error;
        return std::nullopt;
    }
    return ChildProcess(pid, std::move(ours), setup.deathSignal);
}

ChildProcess::~ChildProcess() {
    stop();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), channel_(std::move(other.channel_)),
      deathSignal_(other.deathSignal_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = std::exchange(other.pid_, -1);
        channel_ = std::move(other.channel_);
        deathSignal_ = other.deathSignal_;
    }
    return *this;
}

void ChildProcess::stop() {
    if (!running())
        return;
    sendSignal(deathSignal_);
    wait();
}

void ChildProcess::sendSignal(int number) const {
    if (running())
        ::kill(pid_, number);
}

ChildEnd ChildProcess::wait() {
    if (!running())
        return {};
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return {.waitStatus = status};
}

void ChildPoll::watch(const ChildProcess& child) {
    watched_.push_back({.fd = child.channel(), .events = POLLIN, .revents = 0});
}

ChildPoll::Outcome ChildPoll::wait(Wait how) {
    const int timeout = how == Wait::Not ? 0 : cancelCheckMilliseconds;
    for (;;) {
        if (cancel_ && cancel_->load())
            return Outcome::Cancelled;
        const int ready = ::poll(watched_.data(), watched_.size(), timeout);
        if (ready > 0)
            return Outcome::Ready;
        if (ready < 0 && errno != EINTR)
            return Outcome::Failed;
        if (how != Wait::UntilReady)
            return Outcome::NothingYet;
    }
}

} // namespace kestrova::speech
