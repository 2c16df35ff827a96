#pragma once

#include "speech/base/child_process.h"
#include "speech/render/chunk_samples.h"
#include "speech/render/render_task.h"
#include "speech/whole_io.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrova::speech {

// What the pool says to its workers, and a run's child to the pool.
// Task:  u32 length, then that many bytes: the chunk's RenderTask, field by field, and
//        whether it ends its run (the chunks rendered on from one fresh engine state).
// Reply: records, each a u32 tag: 1 to 2^31-1, a block of that many samples follows;
// chunkComplete, the chunk is done; failureTag, a u32 length and a message follow;
// silenceTag, a u64 count of silent frames follows (a pause goes over as its length);
// sharedTag, a u64 position and a u64 count follow: that many samples wait in the worker's
// shared ring from that position on.
namespace wire {
constexpr std::uint32_t chunkComplete = 0;
constexpr std::uint32_t failureTag = 0xFFFFFFFF;
constexpr std::uint32_t silenceTag = 0xFFFFFFFE;
constexpr std::uint32_t sharedTag = 0xFFFFFFFD;
constexpr std::size_t socketBufferBytes = 1 << 20;
} // namespace wire

// The task's fields as they go on the wire, appended to record.
void encodeTask(const RenderTask& task, std::string& record);
bool sendTask(int fd, const RenderTask& task, bool endsRun);
// False once the descriptor is closed, or when what came is no task.
bool receiveTask(int fd, RenderTask& task, bool& endsRun);

// A block of samples as one record, written from where the samples are.
bool sendSamples(int socket, std::span<const std::int16_t> block);
bool sendSilence(int socket, std::uint64_t frames);
bool sendShared(int socket, std::uint64_t position, std::uint64_t count);
// The records of a reply, encoded for one write each.
void encodeChunkComplete(std::string& record);
void encodeFailure(const std::string& message, std::string& record);
bool sendFailure(int fd, const std::string& message);

// "cannot start a speech worker: REASON", with the reason from errno.
std::string workerStartFailure();
// What a process that died rendering a chunk is reported as, from how it ended.
std::string renderingFailure(const ChildEnd& end);

// Reads the records of a reply piece by piece as they arrive, without blocking.
class ReplyReader {
public:
    enum class Record { Incomplete, Samples, Silence, Shared, ChunkComplete, Failure, Closed };

    // Reads on into the record that earlier calls began. A block's samples are read straight
    // onto the end of samples, as samples of their own; Incomplete means nothing more has
    // come for now; Closed, that the other end is gone.
    Record next(int fd, ChunkSamples& samples);
    // The message of the last Failure record.
    const std::string& failure() const { return failure_; }
    // The frames of the last Silence record.
    std::uint64_t silenceFrames() const { return silenceFrames_; }
    // Where the samples of the last Shared record are in the ring, and how many.
    std::uint64_t sharedPosition() const { return sharedPosition_; }
    std::uint64_t sharedCount() const { return sharedCount_; }

private:
    enum class Part { Whole, Later, Closed };
    static Part readPart(int fd, char* into, std::size_t wanted, std::size_t& have);
    Record finish(Record record);

    // The record being read: its tag (and a failure's length or a silence's frames), then
    // its body.
    static constexpr std::size_t failureHeadBytes = 2 * sizeof(std::uint32_t);
    static constexpr std::size_t silenceHeadBytes = sizeof(std::uint32_t) + sizeof(std::uint64_t);
    static constexpr std::size_t sharedHeadBytes =
        sizeof(std::uint32_t) + 2 * sizeof(std::uint64_t);
    char head_[sharedHeadBytes] = {};
    std::size_t headBytes_ = 0;
    std::size_t bodyBytes_ = 0;
    std::size_t blockStart_ = 0;
    std::string failure_;
    std::uint64_t silenceFrames_ = 0;
    std::uint64_t sharedPosition_ = 0;
    std::uint64_t sharedCount_ = 0;
};

} // namespace kestrova::speech
