#include "worker_pool.h"

#include "chunk_renderer.h"
#include "speech_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// Task:  u32 length, then that many bytes of UTF-8 text.
// Reply: i64 count, then count samples; or -1, u32 length and an error message.
constexpr std::int64_t failureReply = -1;

bool sendAll(int socket, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(socket, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool receiveAll(int socket, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::recv(socket, bytes, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string failureMessage(const std::string& message) {
    const auto length = static_cast<std::uint32_t>(message.size());
    std::string reply(reinterpret_cast<const char*>(&failureReply), sizeof failureReply);
    reply.append(reinterpret_cast<const char*>(&length), sizeof length);
    return reply + message;
}

std::string renderReply(ChunkRenderer& renderer, const std::string& text) {
    std::string reply;
    try {
        const std::vector<std::int16_t> samples = renderer.render(text);
        const auto count = static_cast<std::int64_t>(samples.size());
        reply.append(reinterpret_cast<const char*>(&count), sizeof count);
        reply.append(reinterpret_cast<const char*>(samples.data()),
                     samples.size() * sizeof(std::int16_t));
    } catch (const std::exception& error) {
        reply = failureMessage(error.what());
    }
    return reply;
}

std::string describeStatus(int status) {
    if (WIFSIGNALED(status))
        return std::string("it was killed by signal ") + ::strsignal(WTERMSIG(status));
    return "it exited with status " + std::to_string(WEXITSTATUS(status));
}

// Renders one chunk in a child forked for it. An engine carries state from one rendering
// into the next (eSpeak NG draws on the C library's random numbers, among other things),
// so every chunk starts from the same untouched state: then its samples are the same
// whichever worker renders it, after whatever came before. A crash is reported, not relayed.
std::string renderInFreshProcess(ChunkRenderer& renderer, const std::string& text) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return failureMessage(std::string("cannot start a speech worker: ") + std::strerror(errno));
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    const pid_t child = ::fork();
    if (child < 0)
        return failureMessage(std::string("cannot start a speech worker: ") + std::strerror(errno));
    if (child == 0) {
        readEnd.reset();
        const std::string reply = renderReply(renderer, text);
        ::_exit(sendAll(writeEnd.get(), reply.data(), reply.size()) ? 0 : 1);
    }
    writeEnd.reset();
    std::string reply;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::recv(readEnd.get(), buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(got));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return failureMessage("the speech engine failed while rendering: " +
                              describeStatus(status));
    return reply;
}

// The worker's whole life: render the chunks it is sent until the socket closes.
[[noreturn]] void serveChunks(int socket, const Voice& voice, int outputRate) {
    std::optional<ChunkRenderer> renderer;
    std::string setupFailure;
    try {
        renderer.emplace(voice, outputRate);
    } catch (const std::exception& failure) {
        setupFailure = failure.what();
    }
    std::string text;
    for (std::uint32_t length = 0; receiveAll(socket, &length, sizeof length);) {
        text.resize(length);
        if (!receiveAll(socket, text.data(), length))
            break;
        const std::string reply =
            renderer ? renderInFreshProcess(*renderer, text) : failureMessage(setupFailure);
        if (!sendAll(socket, reply.data(), reply.size()))
            break;
    }
    ::_exit(0); // never run the parent's exit handlers in a worker
}

} // namespace

WorkerPool::WorkerPool(const Voice& voice, int outputRate, unsigned workers,
                       const std::atomic<bool>* cancel)
    : window_(2 * std::max(1u, workers) + 1), cancel_(cancel) {
    const pid_t parent = ::getpid();
    workers_.resize(std::max(1u, workers));
    for (Worker& worker : workers_) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            throw SpeechError(std::string("cannot start a speech worker: ") + std::strerror(errno));
        UniqueFd parentEnd(ends[0]);
        UniqueFd childEnd(ends[1]);
        const pid_t pid = ::fork();
        if (pid < 0)
            throw SpeechError(std::string("cannot start a speech worker: ") + std::strerror(errno));
        if (pid == 0) {
            // A worker dies with the program, leaves signals from the terminal to it, and
            // keeps no file of the program's open: only its own socket.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(0);
            ::signal(SIGINT, SIG_IGN);
            ::signal(SIGTERM, SIG_IGN);
            ::signal(SIGHUP, SIG_IGN);
            const int socket = childEnd.get();
            ::close_range(3, static_cast<unsigned>(socket) - 1, 0);
            ::close_range(static_cast<unsigned>(socket) + 1, ~0u, 0);
            serveChunks(socket, voice, outputRate);
        }
        worker.pid = pid;
        worker.socket = std::move(parentEnd);
    }
}

WorkerPool::~WorkerPool() {
    // Nothing a worker holds is worth waiting for: stop them at once.
    for (Worker& worker : workers_) {
        if (worker.pid <= 0)
            continue;
        ::kill(worker.pid, SIGKILL);
        while (::waitpid(worker.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool WorkerPool::canSubmit() const {
    return submitted_ - taken_ < window_;
}

void WorkerPool::submit(TextChunk chunk) {
    queued_.emplace_back(submitted_++, std::move(chunk));
    dispatch();
}

void WorkerPool::dispatch() {
    for (Worker& worker : workers_) {
        if (queued_.empty())
            return;
        if (worker.busy)
            continue;
        auto [index, chunk] = std::move(queued_.front());
        queued_.pop_front();
        const auto length = static_cast<std::uint32_t>(chunk.text.size());
        if (!sendAll(worker.socket.get(), &length, sizeof length) ||
            !sendAll(worker.socket.get(), chunk.text.data(), chunk.text.size()))
            workerDied(worker);
        worker.busy = true;
        worker.chunk = index;
        worker.endCharacter = chunk.endCharacter;
    }
}

std::optional<RenderedChunk> WorkerPool::next(bool wait) {
    for (;;) {
        const auto ready = done_.find(taken_);
        if (ready != done_.end()) {
            RenderedChunk chunk = std::move(ready->second);
            done_.erase(ready);
            ++taken_;
            return chunk;
        }
        if (taken_ == submitted_)
            return std::nullopt;
        collect(wait);
        if (!wait && done_.find(taken_) == done_.end())
            return std::nullopt;
    }
}

// Reads what the busy workers have sent; with wait, blocks until one of them sent some.
void WorkerPool::collect(bool wait) {
    std::vector<pollfd> watched;
    std::vector<Worker*> owners;
    for (Worker& worker : workers_) {
        if (worker.busy) {
            watched.push_back({worker.socket.get(), POLLIN, 0});
            owners.push_back(&worker);
        }
    }
    if (watched.empty())
        return;
    constexpr int cancelCheckMilliseconds = 200;
    int ready;
    for (;;) {
        if (cancel_ && cancel_->load())
            throw ConversionCancelled("the conversion was cancelled");
        ready = ::poll(watched.data(), watched.size(), wait ? cancelCheckMilliseconds : 0);
        if (ready > 0 || !wait || (ready < 0 && errno != EINTR))
            break;
    }
    if (ready < 0)
        throw SpeechError(std::string("waiting for the speech workers failed: ") +
                          std::strerror(errno));
    for (std::size_t i = 0; i < watched.size(); ++i)
        if (watched[i].revents != 0)
            receive(*owners[i]);
    dispatch();
}

// Reads into a part of the reply without blocking; true once that part is complete.
bool WorkerPool::readSome(Worker& worker, char* into, std::size_t wanted, std::size_t& have) {
    while (have < wanted) {
        const ssize_t got = ::recv(worker.socket.get(), into + have, wanted - have, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        if (got <= 0)
            workerDied(worker); // the socket closed: the worker is gone
        have += static_cast<std::size_t>(got);
    }
    return true;
}

void WorkerPool::receive(Worker& worker) {
    constexpr std::size_t countSize = sizeof(std::int64_t);
    std::int64_t count = 0;
    std::size_t headWanted = countSize;
    if (worker.headBytes >= countSize) {
        std::memcpy(&count, worker.head, countSize);
        if (count == failureReply)
            headWanted = sizeof worker.head;
    }
    if (!readSome(worker, worker.head, headWanted, worker.headBytes))
        return;
    std::memcpy(&count, worker.head, countSize);
    if (count == failureReply && headWanted == countSize)
        return receive(worker); // the failure's length follows
    if (count == failureReply) {
        std::uint32_t length;
        std::memcpy(&length, worker.head + countSize, sizeof length);
        worker.failure.resize(length);
        if (readSome(worker, worker.failure.data(), length, worker.bodyBytes))
            throw SpeechError(worker.failure);
        return;
    }
    if (count < 0)
        throw SpeechError("a speech worker sent a malformed reply");
    worker.samples.resize(static_cast<std::size_t>(count));
    if (!readSome(worker, reinterpret_cast<char*>(worker.samples.data()),
                  worker.samples.size() * sizeof(std::int16_t), worker.bodyBytes))
        return;
    done_.emplace(worker.chunk, RenderedChunk{std::move(worker.samples), worker.endCharacter});
    worker.samples = {};
    worker.headBytes = 0;
    worker.bodyBytes = 0;
    worker.busy = false;
}

void WorkerPool::workerDied(Worker& worker) {
    int status = 0;
    ::kill(worker.pid, SIGKILL);
    ::waitpid(worker.pid, &status, 0);
    worker.pid = -1;
    throw SpeechError("the speech engine failed while rendering: " + describeStatus(status));
}

} // namespace kestrova::speech
