#include "worker_pool.h"

#include "speech/render/worker_process.h"
#include "speech/render/worker_protocol.h"
#include "speech/speech_error.h"
#include "speech/text/text_measures.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrova::speech {

WorkerPool::WorkerPool(const Voice& voice, int outputRate, unsigned workers,
                       const std::atomic<bool>* cancel, std::uint64_t totalCharacters)
    : voice_(voice), maximumWorkers_(std::max(1u, workers)), totalCharacters_(totalCharacters),
      cancel_(cancel), outputRate_(outputRate) {
    workers_.reserve(maximumWorkers_);
}

// Workers start as runs arrive, so that a short text never starts more than it has runs.
WorkerPool::Worker& WorkerPool::startWorker() {
    const pid_t parent = ::getpid();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw SpeechError(workerStartFailure());
    UniqueFd parentEnd(ends[0]);
    UniqueFd childEnd(ends[1]);
    // Room for several blocks on the way: fewer switches between worker and program.
    const int bufferBytes = static_cast<int>(wire::socketBufferBytes);
    for (const int end : {ends[0], ends[1]}) {
        ::setsockopt(end, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
        ::setsockopt(end, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    }
    const pid_t pid = ::fork();
    if (pid < 0)
        throw SpeechError(workerStartFailure());
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
        serveChunks(socket, voice_, outputRate_);
    }
    Worker& worker = workers_.emplace_back();
    worker.pid = pid;
    worker.socket = std::move(parentEnd);
    return worker;
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

// The tasks of one run beyond those the workers may render are held ready.
bool WorkerPool::canSubmit() const {
    return runs_.size() < maximumWorkers_ + 2 || !runs_.back().closed;
}

// Long runs spare forks and the engine's first steps; near the end, each a quarter of what
// is left, so that no worker is left with a long run while the others idle.
std::uint64_t WorkerPool::runLength(std::uint64_t start) const {
    if (totalCharacters_ == 0)
        return longestRunCharacters;
    const std::uint64_t left = totalCharacters_ - std::min(totalCharacters_, start);
    return std::clamp(left / 4, shortestRunCharacters, longestRunCharacters);
}

void WorkerPool::submit(RenderTask task) {
    if (runs_.empty() || runs_.back().closed) {
        runs_.emplace_back();
        runChunks_ = 0;
    }
    Run& run = runs_.back();
    const std::uint64_t reached = task.endCharacter;
    const bool endsRun = reached - std::min(reached, runStart_) >= runLength(runStart_) ||
                         ++runChunks_ == mostChunksInRun;
    run.queued.push_back({submitted_++, std::move(task), endsRun});
    if (endsRun) {
        run.closed = true;
        run.end = submitted_;
        runStart_ = reached;
    }
    dispatch();
}

// Gives the runs a worker may render to idle workers, starting one where none is idle, and
// sends each its run's tasks as they come. Each worker renders one of the first `workers`
// runs, whose samples are held until their turn; the worker of the first may take the run
// after these while it still renders: its tasks wait in its socket, and the worker forks
// for it as soon as it is done, without a word from the program.
void WorkerPool::dispatch() {
    const std::size_t renderable = std::min(runs_.size(), maximumWorkers_ + 1);
    for (std::size_t r = 0; r < renderable; ++r) {
        Run& run = runs_[r];
        if (!run.worker) {
            Worker* idle = nullptr;
            if (r == maximumWorkers_) {
                if (runs_.front().worker && !runs_.front().worker->holdsOpenRun)
                    idle = runs_.front().worker;
            } else {
                for (Worker& worker : workers_)
                    if (!worker.holdsOpenRun &&
                        (!idle || worker.inFlight.size() < idle->inFlight.size()))
                        idle = &worker;
                if ((!idle || !idle->inFlight.empty()) && workers_.size() < maximumWorkers_)
                    idle = &startWorker();
            }
            if (!idle)
                continue;
            run.worker = idle;
            idle->holdsOpenRun = true;
        }
        while (!run.queued.empty()) {
            send(*run.worker, std::move(run.queued.front()));
            run.queued.pop_front();
        }
        if (run.closed)
            run.worker->holdsOpenRun = false;
    }
}

// Room for slow speech: growing by copies would touch every page again. And never less than
// the C library's largest threshold for mapping a block apart (32 MiB): such a block goes
// back to the system when freed, where a smaller one would stay resident in the heap, which
// the blocks held out of turn then fragment. Only the pages written count.
void WorkerPool::reserveSamples(Worker& worker) const {
    constexpr std::size_t mappedApart = (std::size_t{32} << 20) / sizeof(std::int16_t);
    worker.samples.reserve(std::max(mappedApart, worker.inFlight.front().textBytes *
                                                     static_cast<std::size_t>(outputRate_) /
                                                     slowCharactersPerSecond));
}

void WorkerPool::send(Worker& worker, Queued queued) {
    if (!sendTask(worker.socket.get(), queued.task, queued.endsRun))
        workerDied(worker);
    worker.inFlight.push_back({queued.index, renderedShell(queued.task), queued.task.text.size()});
    if (worker.inFlight.size() == 1)
        reserveSamples(worker);
}

std::optional<RenderedChunk> WorkerPool::next(bool wait) {
    for (;;) {
        const auto ready = done_.find(taken_);
        if (ready != done_.end()) {
            RenderedChunk chunk = std::move(ready->second);
            done_.erase(ready);
            ++taken_;
            if (!runs_.empty() && runs_.front().closed && runs_.front().end <= taken_) {
                runs_.pop_front();
                dispatch();
            }
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
        if (!worker.inFlight.empty()) {
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

// Reads the records a worker has sent so far; a finished chunk goes to done_.
void WorkerPool::receive(Worker& worker) {
    for (;;) {
        switch (worker.reader.next(worker.socket.get(), worker.samples)) {
        case ReplyReader::Record::Incomplete:
            return;
        case ReplyReader::Record::Samples:
            continue;
        case ReplyReader::Record::Silence: {
            RenderedChunk& rendered = worker.inFlight.front().rendered;
            rendered.silences.push_back({worker.samples.size(), worker.reader.silenceFrames()});
            continue;
        }
        case ReplyReader::Record::ChunkComplete: {
            InFlight& chunk = worker.inFlight.front();
            chunk.rendered.samples = std::move(worker.samples);
            done_.emplace(chunk.index, std::move(chunk.rendered));
            worker.inFlight.pop_front();
            worker.samples = {};
            if (worker.inFlight.empty())
                return;
            reserveSamples(worker);
            continue;
        }
        case ReplyReader::Record::Failure:
            throw SpeechError(worker.reader.failure());
        case ReplyReader::Record::Closed:
            workerDied(worker); // the socket closed: the worker is gone
        }
    }
}

void WorkerPool::workerDied(Worker& worker) {
    int status = 0;
    ::kill(worker.pid, SIGKILL);
    ::waitpid(worker.pid, &status, 0);
    worker.pid = -1;
    throw SpeechError(renderingFailure(status));
}

} // namespace kestrova::speech
