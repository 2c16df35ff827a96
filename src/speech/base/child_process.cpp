#include "child_process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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
    if (setup.deathSignal != 0) {
        ::prctl(PR_SET_PDEATHSIG, setup.deathSignal);
        if (::getppid() != parent)
            ::_exit(1); // the parent died before the line above took effect
    }
    ours.reset();
    try {
        main(theirs);
    } catch (...) {
        // Unwinding would run the program's own code in its copy: end here instead.
    }
    ::_exit(1);
}

// The signals a keeper takes in turn, blocked from its first instruction on.
sigset_t keeperSignals() {
    sigset_t signals;
    ::sigemptyset(&signals);
    ::sigaddset(&signals, SIGTERM);
    ::sigaddset(&signals, SIGCHLD);
    return signals;
}

// In the shell's process, forked by the keeper: the command's streams as 0, 1 and 2, the
// signals as a process starts with them (the program ignores some, and an ignored signal
// stays ignored across exec), nothing else open.
[[noreturn]] void execShell(const CommandSetup& setup, const char* const* arguments) {
    ::setpgid(0, 0);
    if (::dup2(setup.input, 0) < 0 || ::dup2(setup.output, 1) < 0 || ::dup2(setup.errors, 2) < 0)
        ::_exit(127);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGCHLD})
        ::signal(signal, SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::close_range(3, ~0U, 0);
    ::execv("/bin/sh", const_cast<char* const*>(arguments));
    ::_exit(127);
}

// Ends the keeper as its shell ended.
[[noreturn]] void endAs(int status) {
    if (!WIFSIGNALED(status))
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    const rlimit noCore = {.rlim_cur = 0, .rlim_max = 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(WTERMSIG(status), SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::raise(WTERMSIG(status));
    ::_exit(128 + WTERMSIG(status));
}

// The keeper stays out of the command's group, so that it can kill the whole group, leftovers
// in the background included, and still say how the shell ended. It waits for its signals
// rather than handling them, so that what it does needs no async-signal safety.
[[noreturn]] void keepCommand(const CommandSetup& setup, const char* const* arguments,
                              int lifeline) {
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGCHLD, SIG_DFL);
    const pid_t shell = ::fork();
    if (shell == 0)
        execShell(setup, arguments);
    if (shell < 0)
        ::_exit(127);
    ::setpgid(shell, shell);
    // Only the lifeline stays: the command's ends would keep its pipes open.
    if (lifeline > 3)
        ::close_range(3, static_cast<unsigned>(lifeline) - 1, 0);
    ::close_range(static_cast<unsigned>(lifeline) + 1, ~0U, 0);
    const sigset_t waited = keeperSignals();
    for (;;) {
        siginfo_t info{};
        const int taken = ::sigwaitinfo(&waited, &info);
        siginfo_t ended{};
        if (taken == SIGCHLD &&
            (::waitid(P_PID, static_cast<id_t>(shell), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
             ended.si_pid != shell))
            continue;
        if (taken != SIGCHLD && taken != SIGTERM)
            continue;
        // The shell is a zombie or still running: its group id cannot have gone to another.
        ::kill(-shell, SIGKILL);
        int status = 0;
        while (::waitpid(shell, &status, 0) < 0 && errno == EINTR) {
        }
        if (taken == SIGCHLD)
            endAs(status);
        for (const std::string& path : setup.removedWhenEnded)
            if (::unlink(path.c_str()) != 0)
                ::rmdir(path.c_str());
        ::_exit(1);
    }
}

} // namespace

std::optional<ChildProcess> ChildProcess::startCommand(const CommandSetup& setup) {
    // Made here: the keeper, forked from a process that may have threads, allocates nothing.
    const char* const arguments[] = {"sh", "-c", setup.line.c_str(), nullptr};
    const sigset_t signals = keeperSignals();
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &signals, &previous);
    std::optional<ChildProcess> keeper =
        start({.deathSignal = SIGTERM, .channel = ChildChannel::Pipe},
              [&](int lifeline) { keepCommand(setup, arguments, lifeline); });
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return keeper;
}

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
    if (deathSignal_ == 0)
        channel_.reset();
    else
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
