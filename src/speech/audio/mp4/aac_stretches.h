#pragma once

#include "aac_encoder_setup.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace kestrova::speech {

class AacStretchEncoder;

// An M4B file's sound cut into stretches, each encoded on a thread of its own, several side
// by side; their packets reach the sink in the sound's order, as one continuous AAC track.
// A stretch is at least shortestStretchSeconds long and ends at the first frame boundary
// after that with a frame of digital silence on either side: there the two encoders' frames
// meet over silence alone, and the join is silent as one encoder's would be. Where to cut
// depends on the samples alone, so the bytes are the same for any number of threads.
// At most a few stretches are in flight, each with a bounded queue of samples: a stretch
// longer than its queue is encoded as it comes. A failure of an encoding thread reaches the
// caller at its next write() or finish().
class AacStretches {
public:
    static constexpr double shortestStretchSeconds = 20.0;
    // Encoding threads at most, whatever the machine's cores.
    static constexpr unsigned mostThreads = 4;

    using PacketSink = std::function<void(std::string_view keptPackets)>;

    AacStretches(AacSettings settings, std::size_t frameSamples, PacketSink sink);
    // Stops every encoding thread still running and waits for it.
    ~AacStretches();
    AacStretches(AacStretches&&) = delete;
    AacStretches& operator=(AacStretches&&) = delete;

    void write(std::span<const std::int16_t> samples);
    // The sound's end: every stretch encoded, every packet handed to the sink.
    void finish();

private:
    void takeFrame();
    void handOver(std::vector<std::int16_t> block);
    void beginStretch();
    void endStretch(bool last);
    void retireHead();
    void drain();

    AacSettings settings_;
    std::size_t frameSamples_;
    std::size_t blockSamples_;
    std::uint64_t shortestStretch_;
    std::size_t queuedBlocks_;
    std::size_t mostInFlight_;
    PacketSink sink_;
    std::vector<std::int16_t> block_;  // samples not yet handed over, the last frame maybe short
    std::uint64_t stretchStart_ = 0;   // the fed stretch's first sample in the sound
    std::uint64_t stretchSamples_ = 0; // handed over to it so far
    bool previousFrameSilent_ = false;
    bool feeding_ = false; // the last stretch in flight takes the blocks
    std::deque<std::unique_ptr<AacStretchEncoder>> inFlight_;
};

} // namespace kestrova::speech
