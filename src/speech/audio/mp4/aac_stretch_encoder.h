#pragma once

#include "aac_encoder_setup.h"
#include "speech/base/block_handover.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

struct AVFrame;
struct AVPacket;

namespace kestrova::speech {

// One stretch of an M4B file's sound, encoded on a thread of its own by an encoder of its own:
// the blocks pushed, in order, then flushed once finished. Its packets are kept records
// (KeptPacket, then the bytes) with the sound's own timestamps, counted from the stretch's
// first sample, so that stretches encoded side by side join into one track. A stretch that
// another follows drops its last packet, the flush of silence the next one's first packet
// repeats. Its failure is kept, rethrown by push(), rethrowFailure() and waitFinished(); a
// set cancel flag fails it between two frames; going away stops it at once.
class AacStretchEncoder {
public:
    AacStretchEncoder(const AacSettings& settings, std::int64_t firstSample,
                      std::size_t queuedBlocks);
    ~AacStretchEncoder();
    AacStretchEncoder(AacStretchEncoder&&) = delete;
    AacStretchEncoder& operator=(AacStretchEncoder&&) = delete;

    // Waits for room in the queue; throws the encoder's failure.
    void push(std::vector<std::int16_t> block);
    // The last block is pushed; keepLastPacket: no stretch follows.
    void finish(bool keepLastPacket);
    void rethrowFailure() { queue_.rethrow(); }
    // Every packet is kept: only takePackets() is left to do.
    bool done() const { return done_.load(); }
    // Waits for the thread's end, then throws its failure, if any.
    void waitFinished();
    // The packets kept since the last call, in order.
    std::string takePackets();

private:
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };

    void run();
    void openEncoder();
    void encodeBlock(std::span<const std::int16_t> samples);
    void encodeFrame(std::span<const std::int16_t> samples);
    void send(const AVFrame* frame);
    void keep(const AVPacket& packet);

    AacSettings settings_;
    BlockHandover<std::vector<std::int16_t>> queue_;
    std::int64_t nextPts_;
    CodecContextHandle encoder_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    std::string held_; // the latest packet: published once another follows, or at the end
    std::mutex packetsMutex_;
    std::string packets_;
    std::atomic<bool> keepLastPacket_{true};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> done_{false};
    std::thread thread_; // last: it uses everything above
};

} // namespace kestrova::speech
