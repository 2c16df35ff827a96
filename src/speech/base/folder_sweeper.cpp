#include "speech/base/folder_sweeper.h"

#include "speech/stop_signal_owner.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrova::speech {
namespace folder_sweeper {

// What an owner writes before it lets go: the folder is gone already.
constexpr char folderGone = 'g';

sigset_t stopSignalSet() {
    sigset_t signals;
    ::sigemptyset(&signals);
    for (const int signal : StopSignalOwner::stopSignals)
        ::sigaddset(&signals, signal);
    return signals;
}

// Nothing of the program's stays open in the sweeper but its end of the socket: it would keep
// another sweeper's owner looking alive, or a reader of the program's output waiting.
void keepOnly(int end) {
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int stream = 0; stream < 3; ++stream)
        if (stream != end && nothing >= 0)
            ::dup2(nothing, stream);
    if (end > 3)
        ::close_range(3, static_cast<unsigned>(end) - 1, 0);
    ::close_range(static_cast<unsigned>(end) + 1, ~0U, 0);
}

// In the forked sweeper: async-signal-safe calls only, the program may have threads. The stop
// signals, blocked since before the fork, are ignored before they are let through; an ignored
// signal stays ignored across exec, so rm ignores them too.
[[noreturn]] void sweep(const char* const* removal, int end) {
    for (const int signal : StopSignalOwner::stopSignals)
        ::signal(signal, SIG_IGN);
    ::setpgid(0, 0);
    const sigset_t signals = stopSignalSet();
    ::sigprocmask(SIG_UNBLOCK, &signals, nullptr);
    keepOnly(end);
    char told = 0;
    ssize_t got = 0;
    while ((got = ::read(end, &told, 1)) < 0 && errno == EINTR) {
    }
    if (got == 1 && told == folderGone)
        ::_exit(0);
    ::execv("/bin/rm", const_cast<char* const*>(removal));
    ::_exit(127);
}

} // namespace folder_sweeper

FolderSweeper::FolderSweeper(const std::string& folder) {
    // Made here: the sweeper, forked from a process that may have threads, allocates nothing.
    const char* const removal[] = {"rm", "-rf", "--", folder.c_str(), nullptr};
    const sigset_t signals = folder_sweeper::stopSignalSet();
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &signals, &previous);
    std::optional<ChildProcess> child = ChildProcess::start(
        {.deathSignal = 0, .channel = ChildChannel::Socket, .socketBufferBytes = 0},
        [&](int end) { folder_sweeper::sweep(removal, end); });
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!child)
        return;
    // Out of the program's group from the start, whichever of the two calls comes first.
    ::setpgid(child->pid(), child->pid());
    child_ = std::move(*child);
}

FolderSweeper::~FolderSweeper() {
    if (!child_.running())
        return;
    child_.closeChannel();
    child_.wait();
}

void FolderSweeper::folderRemoved() {
    // A sweeper gone already is no reason for a signal.
    if (child_.channelOpen())
        ::send(child_.channel(), &folder_sweeper::folderGone, 1, MSG_NOSIGNAL);
}

} // namespace kestrova::speech
