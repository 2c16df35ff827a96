#include "worker_pool.h"

#include "speech/render/worker_process.h"
#include "speech/render/worker_protocol.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <signal.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// A worker leaves signals from the terminal to the program, and keeps no file of the
// program's open: only its own socket.
[[noreturn]] void runWorker(int socket, const Voice& voice, int outputRate, SampleRing& ring) {
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGTERM, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::close_range(3, static_cast<unsigned>(socket) - 1, 0);
    ::close_range(static_cast<unsigned>(socket) + 1, ~0u, 0);
    serveChunks(socket, voice, outputRate, ring);
}

} // namespace

WorkerPool::WorkerPool(const Voice& voice, int outputRate, unsigned workers,
                       const std::atomic<bool>* cancel, std::uint64_t totalCharacters,
                       std::size_t ringSamples, KeptChunks* kept)
    : voice_(voice), maximumWorkers_(std::max(1u, workers)), totalCharacters_(totalCharacters),
      cancel_(cancel), outputRate_(outputRate), ringSamples_(ringSamples), kept_(kept) {
    workers_.reserve(maximumWorkers_);
    if (kept_)
        keys_.emplace(voice, outputRate);
}

// Workers start as runs arrive, so that a short text never starts more than it has runs.
// A worker dies with the program. Room for several blocks on the way in its socket: fewer
// switches between worker and program. Its ring is mapped before the fork: the worker and
// its run children share it from the start.
WorkerPool::Worker& WorkerPool::startWorker() {
    const ChildSetup setup = {.deathSignal = SIGKILL,
                              .channel = ChildChannel::Socket,
                              .socketBufferBytes = static_cast<int>(wire::socketBufferBytes)};
    std::shared_ptr<SampleRing> ring = SampleRing::create(ringSamples_);
    std::optional<ChildProcess> process = ChildProcess::start(
        setup, [this, &ring](int socket) { runWorker(socket, voice_, outputRate_, *ring); });
    if (!process)
        throw SpeechError(workerStartFailure());
    Worker& worker = workers_.emplace_back();
    worker.process = std::move(*process);
    worker.ring = std::move(ring);
    return worker;
}

// Nothing a worker holds is worth waiting for: each goes at once, by its death signal
// (SIGKILL), and is reaped.
WorkerPool::~WorkerPool() = default;

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
    const bool startsRun = runs_.empty() || runs_.back().closed;
    if (startsRun) {
        runs_.emplace_back();
        runs_.back().rendering = !kept_;
        runChunks_ = 0;
    }
    Run& run = runs_.back();
    const std::uint64_t reached = task.endCharacter;
    const bool endsRun = reached - std::min(reached, runStart_) >= runLength(runStart_) ||
                         ++runChunks_ == mostChunksInRun;
    Queued queued = {.index = submitted_++,
                     .task = std::move(task),
                     .endsRun = endsRun,
                     .key = {},
                     .given = false};
    if (kept_)
        takeKept(run, queued, startsRun);
    run.queued.push_back(std::move(queued));
    if (endsRun) {
        run.closed = true;
        run.end = submitted_;
        runStart_ = reached;
    }
    dispatch();
}

// While every chunk of the run so far was kept, the next is taken from the kept ones if it is
// there; the first that is not sets the run rendering, from its first chunk. A chunk that
// leaves no state to the next is taken whenever it is there, and not rendered again unless it
// ends the run, which its worker waits for.
void WorkerPool::takeKept(Run& run, Queued& queued, bool startsRun) {
    queued.key = keys_->next(queued.task, startsRun);
    const bool alone = !ChunkKey::dependsOnRun(queued.task);
    if (run.rendering && !alone)
        return;
    std::optional<RenderedChunk> chunk = kept_->take(queued.key, queued.task);
    if (!chunk) {
        if (!run.rendering)
            for (Queued& before : run.queued)
                before.skipped = !ChunkKey::dependsOnRun(before.task);
        run.rendering = true;
        return;
    }
    chunk->keptKey = queued.key;
    done_.emplace(queued.index, std::move(*chunk));
    queued.given = true;
    queued.skipped = run.rendering && alone && !queued.endsRun;
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
        if (!run.rendering)
            continue;
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
            if (!run.queued.front().skipped)
                send(*run.worker, std::move(run.queued.front()));
            run.queued.pop_front();
        }
        if (run.closed)
            run.worker->holdsOpenRun = false;
    }
}

void WorkerPool::send(Worker& worker, Queued queued) {
    if (!sendTask(worker.process.channel(), queued.task, queued.endsRun))
        workerDied(worker);
    if (queued.given)
        kept_->renderedAgain();
    worker.inFlight.push_back({.index = queued.index,
                               .rendered = renderedShell(queued.task),
                               .key = std::move(queued.key),
                               .given = queued.given});
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
    ChildPoll poll(cancel_);
    std::vector<Worker*> owners;
    for (Worker& worker : workers_) {
        if (!worker.inFlight.empty()) {
            poll.watch(worker.process);
            owners.push_back(&worker);
        }
    }
    if (owners.empty())
        return;
    // The worker rendering the chunk waited for must not wait for room in its ring.
    SampleRing* awaited = nullptr;
    for (Worker* worker : owners)
        if (wait && worker->inFlight.front().index == taken_)
            awaited = worker->ring.get();
    if (awaited)
        awaited->setReaderWaiting(true);
    const ChildPoll::Outcome outcome =
        poll.wait(wait ? ChildPoll::Wait::UntilReady : ChildPoll::Wait::Not);
    if (awaited)
        awaited->setReaderWaiting(false);
    if (outcome == ChildPoll::Outcome::Cancelled)
        throw ConversionCancelled("the conversion was cancelled");
    if (outcome == ChildPoll::Outcome::Failed)
        throw SpeechError(std::string("waiting for the speech workers failed: ") +
                          std::strerror(errno));
    for (std::size_t i = 0; i < owners.size(); ++i)
        if (poll.ready(i))
            receive(*owners[i]);
    dispatch();
}

// Reads the records a worker has sent so far; a finished chunk goes to done_.
void WorkerPool::receive(Worker& worker) {
    for (;;) {
        switch (worker.reader.next(worker.process.channel(), worker.samples)) {
        case ReplyReader::Record::Incomplete:
            return;
        case ReplyReader::Record::Samples:
            continue;
        case ReplyReader::Record::Shared:
            if (!worker.samples.appendShared(worker.ring, worker.reader.sharedPosition(),
                                             worker.reader.sharedCount()))
                throw SpeechError("a speech worker's samples were not in its shared memory");
            continue;
        case ReplyReader::Record::Silence: {
            RenderedChunk& rendered = worker.inFlight.front().rendered;
            rendered.silences.push_back({worker.samples.size(), worker.reader.silenceFrames()});
            continue;
        }
        case ReplyReader::Record::ChunkComplete: {
            InFlight& chunk = worker.inFlight.front();
            if (!chunk.given) {
                chunk.rendered.samples = std::move(worker.samples);
                if (kept_) {
                    kept_->keep(chunk.key, chunk.rendered);
                    chunk.rendered.keptKey = std::move(chunk.key);
                }
                done_.emplace(chunk.index, std::move(chunk.rendered));
            }
            worker.inFlight.pop_front();
            worker.samples = ChunkSamples();
            if (worker.inFlight.empty())
                return;
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
    worker.process.sendSignal(SIGKILL);
    throw SpeechError(renderingFailure(worker.process.wait()));
}

} // namespace kestrova::speech
