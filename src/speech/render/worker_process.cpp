#include "worker_process.h"

#include "speech/base/child_process.h"
#include "speech/render/chunk_renderer.h"
#include "speech/render/worker_protocol.h"

#include <cstdlib>
#include <exception>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// The samples of a chunk as they come: into the ring while it has room, the stretch written
// there told to the program in one record before anything else goes on the socket. A full
// ring holding earlier chunks is waited for: the program releases them as it writes them
// out, so a worker rendering ahead of a slow writer (an encoder) waits rather than piling
// its samples into the program's memory through the socket. The socket takes what the ring
// cannot: a chunk larger than the ring, or samples the program is waiting for. Ends the
// process once the program is gone.
class SampleSender {
public:
    SampleSender(SampleRing& ring, int socket) : ring_(ring), socket_(socket) {}

    void add(std::span<const std::int16_t> block) {
        if (ring_.write(block) || (chunkInRing_ + block.size() <= ring_.capacity() &&
                                   ring_.waitForRoom(block.size()) && ring_.write(block))) {
            stretch_ += block.size();
            chunkInRing_ += block.size();
            return;
        }
        flush();
        if (!sendSamples(socket_, block))
            ::_exit(1);
    }
    void flush() {
        if (stretch_ > 0 && !sendShared(socket_, ring_.written() - stretch_, stretch_))
            ::_exit(1);
        stretch_ = 0;
    }
    // The chunk is told whole: the program may release all of it.
    void endChunk() {
        flush();
        chunkInRing_ = 0;
    }

private:
    SampleRing& ring_;
    int socket_;
    std::uint64_t stretch_ = 0;     // written into the ring, not told yet
    std::uint64_t chunkInRing_ = 0; // the chunk's samples in the ring so far
};

bool taskWaiting(int socket) {
    pollfd waiting{.fd = socket, .events = POLLIN, .revents = 0};
    return ::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN) != 0;
}

// In the child forked for a run: renders its chunks one after another as they come, each
// reply written straight onto the program's socket, and ends with the run. Exits 0 once the
// run is done, 1 once the program is gone.
[[noreturn]] void renderRun(ChunkRenderer& renderer, RenderTask& task, bool endsRun, int socket,
                            SampleRing& ring) {
    SampleSender sender(ring, socket);
    const auto sendBlock = [&sender](std::span<const std::int16_t> block) {
        sender.add(block);
    };
    const auto sendPause = [&sender, socket](std::uint64_t frames) {
        sender.flush();
        if (!sendSilence(socket, frames))
            ::_exit(1);
    };
    std::string record;
    // eSpeak NG and Flite draw their noise from the C library's generator, which the worker
    // took over from the program in whatever state the program left it: every run draws from
    // the state a process starts with.
    ::srand(1);
    for (;;) {
        try {
            renderer.render(task, sendBlock, sendPause);
            encodeChunkComplete(record);
            sender.endChunk();
        } catch (const std::exception& error) {
            sender.endChunk();
            encodeFailure(error.what(), record);
        }
        // A voice command's folder goes before the program hears of a chunk that may be its
        // last (it may end the moment it does): one that ends the run, or one with no task
        // waiting after it. A run's tasks mostly come ahead of its rendering.
        if (endsRun || !taskWaiting(socket))
            renderer.releaseVoices();
        if (!sendAll(socket, record.data(), record.size()).whole())
            ::_exit(1);
        if (endsRun)
            ::_exit(0);
        if (!receiveTask(socket, task, endsRun))
            ::_exit(1);
    }
}

// Renders a run of chunks in a child forked for it. An engine carries state from one
// rendering into the next (the C library's random numbers, and eSpeak NG's own, which no call
// resets), so every run starts from the state of a process that has rendered nothing: the
// program's, since it renders only in these children. Then a run's samples are the same
// whichever worker renders it, after whatever came before. The child reads the run's further
// tasks and writes the replies itself, so that samples cross between processes once. A child
// that dies mid-run may leave a record half written: the worker then dies the same way, and
// the program reports that. False once the program is gone.
bool renderRunInFreshProcess(ChunkRenderer& renderer, RenderTask& task, bool endsRun, int socket,
                             SampleRing& ring) {
    // Dies with its worker, as the worker with the program.
    std::optional<ChildProcess> child = ChildProcess::start(
        {.deathSignal = SIGKILL}, [&](int) { renderRun(renderer, task, endsRun, socket, ring); });
    if (!child)
        return sendFailure(socket, workerStartFailure());
    const ChildEnd end = child->wait();
    if (end.exitedWith(0))
        return true;
    if (end.killingSignal() != 0) {
        ::signal(end.killingSignal(), SIG_DFL);
        ::raise(end.killingSignal());
    }
    ::_exit(end.killingSignal() == 0 ? end.exitStatus() : 1);
}

} // namespace

void serveChunks(int socket, const Voice& voice, int outputRate, SampleRing& ring) {
    std::optional<ChunkRenderer> renderer;
    std::string setupFailure;
    try {
        renderer.emplace(voice, outputRate);
    } catch (const std::exception& failure) {
        setupFailure = failure.what();
    }
    RenderTask task;
    bool endsRun = false;
    while (receiveTask(socket, task, endsRun)) {
        const bool programThere =
            renderer ? renderRunInFreshProcess(*renderer, task, endsRun, socket, ring)
                     : sendFailure(socket, setupFailure);
        if (!programThere)
            break;
    }
    ::_exit(0); // never run the parent's exit handlers in a worker
}

} // namespace kestrova::speech
