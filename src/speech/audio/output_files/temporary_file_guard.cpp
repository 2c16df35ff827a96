#include "temporary_file_guard.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// A signal handler reaches nothing but static data: the one guarded file, and the process
// that made it (a child forked meanwhile must not remove its parent's file).
struct GuardedFile {
    std::atomic<pid_t> owner{0};
    int folder = -1;
    char name[64] = {};
};
GuardedFile guarded;
static_assert(std::atomic<pid_t>::is_always_lock_free);

void removeGuarded() {
    if (guarded.owner.load() == ::getpid())
        ::unlinkat(guarded.folder, guarded.name, 0);
}

extern "C" void removeAtExit() {
    removeGuarded();
}

extern "C" void removeAndEnd(int signal) {
    removeGuarded();
    // SA_RESETHAND has put back the default, and SA_NODEFER leaves the signal unblocked.
    ::raise(signal);
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

TemporaryFileGuard::TemporaryFileGuard(int folder, const std::string& name) {
    if (name.size() >= sizeof guarded.name)
        return;
    pid_t none = 0;
    if (!guarded.owner.compare_exchange_strong(none, -1))
        return; // another file holds the guard
    guarded.folder = folder;
    std::memcpy(guarded.name, name.c_str(), name.size() + 1);
    guarded.owner.store(::getpid());
    active_ = true;
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(removeAtExit); });

    struct sigaction action {};
    action.sa_handler = removeAndEnd;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (const int signal : endingSignals()) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
            (current.sa_flags & SA_SIGINFO))
            continue;
        if (::sigaction(signal, &action, nullptr) == 0)
            replaced_.emplace_back(signal, current);
    }
}

TemporaryFileGuard::~TemporaryFileGuard() {
    if (!active_)
        return;
    for (const auto& [signal, previous] : replaced_)
        ::sigaction(signal, &previous, nullptr);
    guarded.owner.store(0);
}

} // namespace kestrova::speech
