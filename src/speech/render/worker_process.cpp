#include "worker_process.h"

#include "speech/render/chunk_renderer.h"
#include "speech/render/worker_protocol.h"
#include "speech/text/unique_fd.h"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// In the child forked for one chunk: render it, sending its samples block by block.
[[noreturn]] void renderAndSend(ChunkRenderer& renderer, const RenderTask& task, int out) {
    ::signal(SIGPIPE, SIG_IGN);
    std::string record;
    const auto sendBlock = [out, &record](std::span<const std::int16_t> block) {
        encodeSamples(block, record);
        if (!sendAll(out, record.data(), record.size(), false))
            ::_exit(1);
    };
    try {
        renderer.render(task, sendBlock);
        encodeChunkComplete(record);
    } catch (const std::exception& error) {
        encodeFailure(error.what(), record);
    }
    ::_exit(sendAll(out, record.data(), record.size(), false) ? 0 : 1);
}

// The buffers a worker relays its children's records through, kept from chunk to chunk:
// their pages are touched once.
struct Relay {
    std::vector<std::int16_t> block;
    std::string record;
};

// Renders one chunk in a child forked for it and relays the child's records to the
// program, whole records only. An engine carries state from one rendering into the next
// (eSpeak NG draws on the C library's random numbers, among other things), so every chunk
// starts from the same untouched state: then its samples are the same whichever worker
// renders it, after whatever came before. A child that dies mid-chunk is reported as a
// failure record, and the stream stays whole. False once the program is gone.
bool renderInFreshProcess(ChunkRenderer& renderer, const RenderTask& task, int socket,
                          Relay& relay) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return sendFailure(socket, workerStartFailure());
    UniqueFd fromChild(ends[0]);
    UniqueFd toWorker(ends[1]);
    // Room for a few blocks in the pipe, so that the child rarely waits for the relay.
    ::fcntl(toWorker.get(), F_SETPIPE_SZ, static_cast<int>(wire::socketBufferBytes));
    const pid_t worker = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        return sendFailure(socket, workerStartFailure());
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // dies with its worker, as the worker with the program
        if (::getppid() != worker)
            ::_exit(1); // the worker died before the line above took effect
        fromChild.reset();
        renderAndSend(renderer, task, toWorker.get());
    }
    toWorker.reset();
    ReplyReader reader;
    bool finished = false;
    bool programThere = true;
    while (!finished) {
        relay.block.clear();
        const ReplyReader::Record record = reader.next(fromChild.get(), true, relay.block);
        if (record == ReplyReader::Record::Samples) {
            encodeSamples(relay.block, relay.record);
        } else if (record == ReplyReader::Record::ChunkComplete) {
            encodeChunkComplete(relay.record);
            finished = true;
        } else if (record == ReplyReader::Record::Failure) {
            encodeFailure(reader.failure(), relay.record);
            finished = true;
        } else {
            break; // the child died mid-record
        }
        if (!sendAll(socket, relay.record.data(), relay.record.size())) {
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
        return sendFailure(socket, renderingFailure(status));
    return true;
}

} // namespace

void serveChunks(int socket, const Voice& voice, int outputRate) {
    std::optional<ChunkRenderer> renderer;
    std::string setupFailure;
    try {
        renderer.emplace(voice, outputRate);
    } catch (const std::exception& failure) {
        setupFailure = failure.what();
    }
    RenderTask task;
    Relay relay;
    relay.block.reserve(ChunkRenderer::blockSamples * 4);
    relay.record.reserve(sizeof(std::uint32_t) +
                         ChunkRenderer::blockSamples * sizeof(std::int16_t) * 4);
    while (receiveTask(socket, task)) {
        const bool programThere = renderer ? renderInFreshProcess(*renderer, task, socket, relay)
                                           : sendFailure(socket, setupFailure);
        if (!programThere)
            break;
    }
    ::_exit(0); // never run the parent's exit handlers in a worker
}

} // namespace kestrova::speech
