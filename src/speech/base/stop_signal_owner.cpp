#include "speech/stop_signal_owner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

constexpr auto& stopSignals = StopSignalOwner::stopSignals;

// A signal handler reaches nothing but lock-free atomics and data of static duration: the
// one guarded file and the process that guards it, and where a stop goes.
struct GuardedFile {
    std::atomic<pid_t> owner{0};
    int folder = -1;
    char name[64] = {};
};
struct TakenStops {
    std::atomic<bool> taken{false};
    std::atomic<int> notifyFd{-1};
    std::atomic<int> signal{0};
    std::atomic<bool> requested{false};
};
GuardedFile guarded;
TakenStops stops;
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

bool isStopSignal(int signal) {
    return std::find(stopSignals.begin(), stopSignals.end(), signal) != stopSignals.end();
}

void removeGuarded() {
    if (guarded.owner.load() == ::getpid())
        ::unlinkat(guarded.folder, guarded.name, 0);
}

extern "C" void removeAtExit() {
    removeGuarded();
}

void noteStop(int signal) {
    stops.signal.store(signal);
    stops.requested.store(true);
    const auto number = static_cast<unsigned char>(signal);
    if (const int fd = stops.notifyFd.load(); fd >= 0) [[maybe_unused]]
        const auto written = ::write(fd, &number, 1);
}

extern "C" void onSignal(int signal) {
    const int savedErrno = errno;
    if (isStopSignal(signal) && stops.taken.load()) {
        noteStop(signal);
        errno = savedErrno;
        return;
    }
    removeGuarded();
    // The default back, and the signal again: it is not blocked (SA_NODEFER), so the
    // process ends here as the signal ends it unhandled.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signal, &byDefault, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

void install(int signal) {
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

// Where the program has a handler of its own, or ignores the signal, it stays so.
void installWhereDefault(int signal) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        (current.sa_flags & SA_SIGINFO) == 0)
        install(signal);
}

// The signals that end a process unless handled.
std::vector<int> endingSignals() {
    std::vector<int> signals{SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                             SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                             SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                             SIGPROF, SIGIO,   SIGPWR,    SIGSYS};
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        signals.push_back(signal);
    return signals;
}

} // namespace

void StopSignalOwner::takeStops(int notifyFd) {
    stops.notifyFd.store(notifyFd);
    stops.taken.store(true);
    static std::once_flag installed;
    std::call_once(installed, [] {
        for (const int signal : stopSignals)
            install(signal);
    });
}

void StopSignalOwner::releaseStops() {
    stops.taken.store(false);
    stops.notifyFd.store(-1);
}

int StopSignalOwner::stopSignal() {
    return stops.signal.load();
}

const std::atomic<bool>* StopSignalOwner::stopFlag() {
    return &stops.requested;
}

bool StopSignalOwner::guardFile(int folder, const char* name) {
    const std::size_t length = std::strlen(name);
    if (length >= sizeof guarded.name)
        return false;
    pid_t none = 0;
    if (!guarded.owner.compare_exchange_strong(none, -1))
        return false; // another file holds the guard
    guarded.folder = folder;
    std::memcpy(guarded.name, name, length + 1);
    guarded.owner.store(::getpid());
    static std::once_flag installed;
    std::call_once(installed, [] {
        std::atexit(removeAtExit);
        for (const int signal : endingSignals())
            installWhereDefault(signal);
    });
    return true;
}

void StopSignalOwner::releaseFile() {
    guarded.owner.store(0);
}

} // namespace kestrova::speech
