#pragma once

#include "speech/render/render_pipeline.h"
#include "speech/render/worker_protocol.h"
#include "speech/text/unique_fd.h"
#include "speech/voice.h"

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrova::speech {

// Renders chunks in worker processes, several at once, and gives them back in text order.
// Processes rather than threads: eSpeak NG keeps one synthesizer per process, and a crash
// inside an engine then takes a worker down, not the program. At most `window` chunks are
// held at a time, so memory stays bounded whatever the length of the text.
class WorkerPool : public RenderPipeline {
public:
    // cancel, when set, stops a wait for the workers within a fifth of a second.
    // At most `workers` processes, each started when a chunk finds no idle one.
    WorkerPool(const Voice& voice, int outputRate, unsigned workers,
               const std::atomic<bool>* cancel = nullptr);
    ~WorkerPool() override;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The worker processes started so far: one per chunk in flight, up to `workers`.
    std::size_t startedWorkers() const { return workers_.size(); }

    bool canSubmit() const override;
    void submit(RenderTask task) override;
    std::optional<RenderedChunk> next(bool wait) override;

private:
    struct Worker {
        pid_t pid = -1;
        UniqueFd socket;
        bool busy = false;
        std::uint64_t chunk = 0;
        RenderedChunk rendered; // what the chunk carries besides its samples
        ReplyReader reader;
        std::vector<std::int16_t> samples; // the chunk so far
    };

    Worker& startWorker();
    void dispatch();
    void collect(bool wait);
    void receive(Worker& worker);
    [[noreturn]] void workerDied(Worker& worker);

    Voice voice_;
    std::size_t maximumWorkers_;
    std::vector<Worker> workers_; // reserved for maximumWorkers_: references stay valid
    std::deque<std::pair<std::uint64_t, RenderTask>> queued_;
    std::map<std::uint64_t, RenderedChunk> done_;
    std::uint64_t submitted_ = 0;
    std::uint64_t taken_ = 0;
    std::size_t window_;
    const std::atomic<bool>* cancel_;
    int outputRate_;
};

} // namespace kestrova::speech
