#pragma once

// What the fault tests need around a real process: the processes under it and their memory
// and CPU time, orphans adopted and reaped, unnamed files refused and a private mount table
// for file systems that fill up or refuse writes.

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <map>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrova::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Sanitized builds keep freed memory in quarantine and map shadow memory: their resident
// size says nothing about the program's. The tests' own code is not instrumented there, so
// the tree says so (KESTROVA_SANITIZED_TREE).
#if defined(KESTROVA_SANITIZED_TREE) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool sanitizedBuild = true;
#else
inline constexpr bool sanitizedBuild = false;
#endif
#else
inline constexpr bool sanitizedBuild = false;
#endif

// The children of a process, of all its threads.
inline std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream list(task.path() / "children");
        for (pid_t child; list >> child;)
            children.push_back(child);
    }
    return children;
}

inline std::vector<pid_t> descendantsOf(pid_t pid) {
    std::vector<pid_t> found = childrenOf(pid);
    for (std::size_t i = 0; i < found.size(); ++i)
        for (const pid_t grandchild : childrenOf(found[i]))
            found.push_back(grandchild);
    return found;
}

// Resident memory of a process in KiB, from /proc; 0 once it is gone.
inline long residentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    return 0;
}

// CPU time a process has used, in clock ticks, from /proc; -1 once it is gone.
inline long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long user = 0;
    long system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) { // fields 14 and 15: utime, stime
        if (i == 14)
            user = std::stol(field);
        if (i == 15)
            system = std::stol(field);
    }
    return user + system;
}

// Makes this process the parent of every orphan below it, so that a process the converter
// left behind can be seen (and reaped) here rather than vanish under init. Once, early.
inline void adoptOrphans() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// The processes below this one still alive after grace: what a run left behind. Reaps the
// ones that ended. Call it only once no child of this process should be running.
inline std::vector<pid_t> survivors(std::chrono::milliseconds grace = 1s) {
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        std::vector<pid_t> alive = descendantsOf(::getpid());
        if (alive.empty() || std::chrono::steady_clock::now() >= deadline) {
            for (const pid_t pid : alive) // clean up for the next test, but report them
                ::kill(pid, SIGKILL);
            for (const pid_t pid : alive)
                ::waitpid(pid, nullptr, 0); // an orphan adopted here; ECHILD for the others
            return alive;
        }
        std::this_thread::sleep_for(10ms);
    }
}

// Makes open() with O_TMPFILE fail with EOPNOTSUPP in this process and its children, as on a
// file system without unnamed files. Async-signal-safe, for a child between fork and exec.
inline bool refuseUnnamedFiles() {
    constexpr __u32 tmpfileBit = 020000000; // O_TMPFILE without its O_DIRECTORY
    constexpr __u32 lowWord = 0;            // little-endian: an argument's low half first
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_open, 3, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args) + 2 * 8 + lowWord),
        BPF_JUMP(BPF_JMP | BPF_JA, 1, 0, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args) + 1 * 8 + lowWord),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, tmpfileBit, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EOPNOTSUPP & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A private mount table for this process and its children: tmpfs mounts made here are seen
// by nobody else and vanish with the process. Only root can have one.
inline bool privateMountTable() {
    static const bool ready = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                              ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ready;
}

// A tmpfs of a given size at an existing folder, unmounted when it goes.
class TmpfsMount {
public:
    TmpfsMount(const fs::path& at, std::size_t bytes) : at_(at) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ =
            ::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~TmpfsMount() {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    bool makeReadOnly() {
        return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                       nullptr) == 0;
    }

private:
    fs::path at_;
    bool mounted_ = false;
};

} // namespace kestrova::test
