#include "worker_pool.h"

#include "chunk_renderer.h"
#include "speech_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
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

std::string describeStatus(int status) {
    if (WIFSIGNALED(status))
        return std::string("it was killed by signal ") + ::strsignal(WTERMSIG(status));
    return "it exited with status " + std::to_string(WEXITSTATUS(status));
}

// In the child forked for one chunk: render it and reply on the worker's socket. Before
// the first byte of the reply it says so on `started`, so that the worker knows whether
// the stream is still clean should the child die.
[[noreturn]] void renderAndReply(ChunkRenderer& renderer, const std::string& text, int socket,
                                 int started) {
    std::vector<std::int16_t> samples;
    std::string failure;
    try {
        samples = renderer.render(text);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    const char mark = 1;
    if (::write(started, &mark, 1) != 1)
        ::_exit(1);
    bool sent;
    if (failure.empty()) {
        const auto count = static_cast<std::int64_t>(samples.size());
        sent = sendAll(socket, &count, sizeof count) &&
               sendAll(socket, samples.data(), samples.size() * sizeof(std::int16_t));
    } else {
        const std::string reply = failureMessage(failure);
        sent = sendAll(socket, reply.data(), reply.size());
    }
    ::_exit(sent ? 0 : 1);
}

// Renders one chunk in a child forked for it. An engine carries state from one rendering
// into the next (eSpeak NG draws on the C library's random numbers, among other things),
// so every chunk starts from the same untouched state: then its samples are the same
// whichever worker renders it, after whatever came before. False when the reply stream
// was cut off and the worker must stop.
bool renderInFreshProcess(ChunkRenderer& renderer, const std::string& text, int socket) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        const std::string reply =
            failureMessage(std::string("cannot start a speech worker: ") + std::strerror(errno));
        return sendAll(socket, reply.data(), reply.size());
    }
    UniqueFd startedRead(ends[0]);
    UniqueFd startedWrite(ends[1]);
    const pid_t child = ::fork();
    if (child == 0) {
        startedRead.reset();
        renderAndReply(renderer, text, socket, startedWrite.get());
    }
    startedWrite.reset();
    std::string failure;
    if (child < 0) {
        failure = std::string("cannot start a speech worker: ") + std::strerror(errno);
    } else {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        char mark = 0;
        const bool started = ::read(startedRead.get(), &mark, 1) == 1;
        const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (clean)
            return true;
        if (started)
            return false; // part of a reply may have gone out: only closing the socket is safe
        failure = "the speech engine failed while rendering: " + describeStatus(status);
    }
    const std::string reply = failureMessage(failure);
    return sendAll(socket, reply.data(), reply.size());
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
        if (!renderer) {
            const std::string reply = failureMessage(setupFailure);
            if (!sendAll(socket, reply.data(), reply.size()))
                break;
        } else if (!renderInFreshProcess(*renderer, text, socket)) {
            break;
        }
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
