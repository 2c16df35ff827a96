#pragma once

#include "speech/base/child_process.h"
#include "speech/render/chunk_key.h"
#include "speech/render/kept_chunks.h"
#include "speech/render/render_pipeline.h"
#include "speech/render/sample_ring.h"
#include "speech/render/worker_protocol.h"
#include "speech/voice.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {

// Renders chunks in worker processes, several at once, and gives them back in text order.
// Processes rather than threads: eSpeak NG keeps one synthesizer per process, and a crash
// inside an engine then takes a worker down, not the program. The chunks go in runs, each
// rendered on from one fresh engine state by one worker; where a run ends depends on the
// text alone, so the sound is the same for any number of workers. At most `workers` runs
// are rendered ahead of the one being taken out, so memory stays bounded whatever the
// length of the text.
class WorkerPool : public RenderPipeline {
public:
    // cancel, when set, stops a wait for the workers within a fifth of a second.
    // At most `workers` processes, each started when a run finds no idle one.
    // totalCharacters, when known, lets the runs shorten towards the end of the text, so
    // that the workers finish together. ringSamples: the room of each worker's shared ring.
    // kept, when given, holds the chunks of an earlier run of the same conversion: a run of
    // chunks found there whole is taken from it; a run that lacks any is rendered from its
    // start, since an engine carries its state along a run, but for the chunks of a voice
    // command, which are taken wherever they are; each chunk rendered is kept as it comes.
    WorkerPool(const Voice& voice, int outputRate, unsigned workers,
               const std::atomic<bool>* cancel = nullptr, std::uint64_t totalCharacters = 0,
               std::size_t ringSamples = defaultRingSamples, KeptChunks* kept = nullptr);
    ~WorkerPool() override;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The worker processes started so far: one per run in flight, up to `workers`.
    std::size_t startedWorkers() const { return workers_.size(); }

    bool canSubmit() const override;
    void submit(RenderTask task) override;
    std::optional<RenderedChunk> next(bool wait) override;

    // A run ends with the chunk that takes it this many characters on, or fewer near the
    // end of the text; and at this many chunks at most.
    static constexpr std::uint64_t longestRunCharacters = 6000;
    static constexpr std::uint64_t shortestRunCharacters = 2000;
    static constexpr std::size_t mostChunksInRun = 64;
    // Each worker's shared ring, in samples: several minutes of speech, most of a run held
    // out of turn. What does not fit comes through the socket instead.
    static constexpr std::size_t defaultRingSamples = std::size_t{8} << 20;

private:
    struct InFlight {
        std::uint64_t index = 0;
        RenderedChunk rendered; // what the chunk carries besides its samples
        std::string key;        // its name among the kept chunks
        bool given = false;     // taken from them already: rendered only for the run's state
    };
    struct Worker {
        ChildProcess process;          // its channel is the worker's socket
        bool holdsOpenRun = false;     // has a run whose tasks are not all sent
        std::deque<InFlight> inFlight; // sent, in order
        ReplyReader reader;
        std::shared_ptr<SampleRing> ring; // the samples it renders, shared with it
        ChunkSamples samples;             // the first chunk in flight so far
    };
    struct Queued {
        std::uint64_t index = 0;
        RenderTask task;
        bool endsRun = false;
        std::string key;
        bool given = false;
        bool skipped = false; // given, and its samples not needed for the run's state
    };
    struct Run {
        std::deque<Queued> queued; // its tasks not sent yet
        bool closed = false;       // its last chunk has come
        std::uint64_t end = 0;     // then: one past the index of its last chunk
        Worker* worker = nullptr;
        bool rendering = true; // false while each of its chunks so far was kept
    };

    Worker& startWorker();
    std::uint64_t runLength(std::uint64_t start) const;
    void dispatch();
    void send(Worker& worker, Queued queued);
    void collect(bool wait);
    void receive(Worker& worker);
    [[noreturn]] void workerDied(Worker& worker);
    void takeKept(Run& run, Queued& queued, bool startsRun);

    Voice voice_;
    std::size_t maximumWorkers_;
    std::vector<Worker> workers_; // reserved for maximumWorkers_: references stay valid
    std::deque<Run> runs_;        // from the first not wholly taken out
    std::map<std::uint64_t, RenderedChunk> done_;
    std::uint64_t submitted_ = 0;
    std::uint64_t taken_ = 0;
    std::uint64_t totalCharacters_;
    std::uint64_t runStart_ = 0; // the character the open run starts at
    std::size_t runChunks_ = 0;  // the chunks in the open run so far
    const std::atomic<bool>* cancel_;
    int outputRate_;
    std::size_t ringSamples_;
    KeptChunks* kept_;
    std::optional<ChunkKey> keys_; // with kept chunks
};

} // namespace kestrova::speech
