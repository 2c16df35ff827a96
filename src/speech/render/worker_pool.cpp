#include "worker_pool.h"

#include "speech/render/chunk_renderer.h"
#include "speech/speech_error.h"
#include "speech/text/text_measures.h"

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
// Reply: records, each a u32 tag: 1 to 2^31-1, a block of that many samples follows;
// chunkComplete, the chunk is done; failureRecord, a u32 length and a message follow.
constexpr std::uint32_t chunkComplete = 0;
constexpr std::size_t socketBufferBytes = 1 << 20;
constexpr std::uint32_t failureRecord = 0xFFFFFFFF;

// Sockets are written with send(), which spares a worker SIGPIPE when its reader is gone;
// the pipe from a chunk's child with write() (the child ignores SIGPIPE).
bool sendAll(int fd, const void* data, std::size_t size, bool socket = true) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent =
            socket ? ::send(fd, bytes, size, MSG_NOSIGNAL) : ::write(fd, bytes, size);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool receiveAll(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
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
    std::string record(reinterpret_cast<const char*>(&failureRecord), sizeof failureRecord);
    record.append(reinterpret_cast<const char*>(&length), sizeof length);
    return record + message;
}

bool sendFailure(int fd, const std::string& message) {
    const std::string record = failureMessage(message);
    return sendAll(fd, record.data(), record.size());
}

std::string describeStatus(int status) {
    if (WIFSIGNALED(status))
        return std::string("it was killed by signal ") + ::strsignal(WTERMSIG(status));
    return "it exited with status " + std::to_string(WEXITSTATUS(status));
}

// In the child forked for one chunk: render it, sending its samples block by block.
[[noreturn]] void renderAndSend(ChunkRenderer& renderer, const std::string& text, int out) {
    ::signal(SIGPIPE, SIG_IGN);
    const auto sendBlock = [out](std::span<const std::int16_t> block) {
        const auto count = static_cast<std::uint32_t>(block.size());
        if (!sendAll(out, &count, sizeof count, false) ||
            !sendAll(out, block.data(), block.size() * sizeof(std::int16_t), false))
            ::_exit(1);
    };
    bool sent;
    try {
        renderer.render(text, sendBlock);
        sent = sendAll(out, &chunkComplete, sizeof chunkComplete, false);
    } catch (const std::exception& error) {
        const std::string record = failureMessage(error.what());
        sent = sendAll(out, record.data(), record.size(), false);
    }
    ::_exit(sent ? 0 : 1);
}

// Renders one chunk in a child forked for it and relays the child's records to the
// program, whole records only. An engine carries state from one rendering into the next
// (eSpeak NG draws on the C library's random numbers, among other things), so every chunk
// starts from the same untouched state: then its samples are the same whichever worker
// renders it, after whatever came before. A child that dies mid-chunk is reported as a
// failure record, and the stream stays whole. False once the program is gone.
bool renderInFreshProcess(ChunkRenderer& renderer, const std::string& text, int socket,
                          std::vector<char>& relay) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return sendFailure(socket,
                           std::string("cannot start a speech worker: ") + std::strerror(errno));
    UniqueFd fromChild(ends[0]);
    UniqueFd toWorker(ends[1]);
    // Room for a few blocks in the pipe, so that the child rarely waits for the relay.
    ::fcntl(toWorker.get(), F_SETPIPE_SZ, static_cast<int>(socketBufferBytes));
    const pid_t worker = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        return sendFailure(socket,
                           std::string("cannot start a speech worker: ") + std::strerror(errno));
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // dies with its worker, as the worker with the program
        if (::getppid() != worker)
            ::_exit(1); // the worker died before the line above took effect
        fromChild.reset();
        renderAndSend(renderer, text, toWorker.get());
    }
    toWorker.reset();
    bool finished = false;
    bool programThere = true;
    for (std::uint32_t tag; !finished && receiveAll(fromChild.get(), &tag, sizeof tag);) {
        std::size_t bodySize = 0;
        std::uint32_t length = 0;
        if (tag == chunkComplete) {
            finished = true;
        } else if (tag == failureRecord) {
            if (!receiveAll(fromChild.get(), &length, sizeof length))
                break;
            bodySize = length;
            finished = true;
        } else {
            bodySize = static_cast<std::size_t>(tag) * sizeof(std::int16_t);
        }
        relay.resize(sizeof tag + (tag == failureRecord ? sizeof length : 0) + bodySize);
        std::memcpy(relay.data(), &tag, sizeof tag);
        if (tag == failureRecord)
            std::memcpy(relay.data() + sizeof tag, &length, sizeof length);
        if (!receiveAll(fromChild.get(), relay.data() + relay.size() - bodySize, bodySize)) {
            finished = false;
            break;
        }
        if (!sendAll(socket, relay.data(), relay.size())) {
            programThere = false;
            break;
        }
    }
    fromChild.reset();
    if (!programThere)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!programThere)
        return false;
    if (!finished)
        return sendFailure(socket,
                           "the speech engine failed while rendering: " + describeStatus(status));
    return true;
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
    std::vector<char> relay; // kept from chunk to chunk: its pages are touched once
    relay.reserve(sizeof(std::uint32_t) + ChunkRenderer::blockSamples * sizeof(std::int16_t) * 4);
    for (std::uint32_t length = 0; receiveAll(socket, &length, sizeof length);) {
        text.resize(length);
        if (!receiveAll(socket, text.data(), length))
            break;
        const bool programThere = renderer ? renderInFreshProcess(*renderer, text, socket, relay)
                                           : sendFailure(socket, setupFailure);
        if (!programThere)
            break;
    }
    ::_exit(0); // never run the parent's exit handlers in a worker
}

} // namespace

WorkerPool::WorkerPool(const Voice& voice, int outputRate, unsigned workers,
                       const std::atomic<bool>* cancel)
    : window_(2 * std::max(1u, workers) + 1), cancel_(cancel), outputRate_(outputRate) {
    const pid_t parent = ::getpid();
    workers_.resize(std::max(1u, workers));
    for (Worker& worker : workers_) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            throw SpeechError(std::string("cannot start a speech worker: ") + std::strerror(errno));
        UniqueFd parentEnd(ends[0]);
        UniqueFd childEnd(ends[1]);
        // Room for several blocks on the way: fewer switches between worker and program.
        const int bufferBytes = static_cast<int>(socketBufferBytes);
        for (const int end : {ends[0], ends[1]}) {
            ::setsockopt(end, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
            ::setsockopt(end, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        }
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
        // Room for slow speech: growing by copies would touch every page again.
        worker.samples.reserve(chunk.text.size() * static_cast<std::size_t>(outputRate_) /
                               slowCharactersPerSecond);
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

// Reads into a part of a record without blocking; true once that part is complete.
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

// Reads the records a worker has sent so far; a finished chunk goes to done_.
void WorkerPool::receive(Worker& worker) {
    for (;;) {
        std::uint32_t tag = 0;
        if (!readSome(worker, worker.head, sizeof tag, worker.headBytes))
            return;
        std::memcpy(&tag, worker.head, sizeof tag);
        if (tag == chunkComplete) {
            done_.emplace(worker.chunk,
                          RenderedChunk{std::move(worker.samples), worker.endCharacter});
            worker.samples = {};
            worker.headBytes = 0;
            worker.busy = false;
            return;
        }
        if (tag == failureRecord) {
            std::uint32_t length = 0;
            if (!readSome(worker, worker.head, sizeof worker.head, worker.headBytes))
                return;
            std::memcpy(&length, worker.head + sizeof tag, sizeof length);
            worker.failure.resize(length);
            if (readSome(worker, worker.failure.data(), length, worker.bodyBytes))
                throw SpeechError(worker.failure);
            return;
        }
        // A block of samples, read straight onto the end of the chunk's samples.
        if (worker.bodyBytes == 0)
            worker.blockStart = worker.samples.size();
        worker.samples.resize(worker.blockStart + tag);
        if (!readSome(worker, reinterpret_cast<char*>(worker.samples.data() + worker.blockStart),
                      std::size_t{tag} * sizeof(std::int16_t), worker.bodyBytes))
            return;
        worker.headBytes = 0;
        worker.bodyBytes = 0;
    }
}

void WorkerPool::workerDied(Worker& worker) {
    int status = 0;
    ::kill(worker.pid, SIGKILL);
    ::waitpid(worker.pid, &status, 0);
    worker.pid = -1;
    throw SpeechError("the speech engine failed while rendering: " + describeStatus(status));
}

} // namespace kestrova::speech
