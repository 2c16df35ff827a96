#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>

namespace kestrova::speech {

// A ring of samples in memory shared between the program and one worker, mapped before the
// worker forks so that the worker and its run children inherit it. The worker writes a
// chunk's samples into it and tells the program only where they are; the program reads them
// in place and releases them once written out. Positions count samples from the ring's
// start and only grow; the ring's pages are mapped twice, one after the other, so that any
// stretch of at most `capacity` samples lies whole in memory wherever it wraps.
class SampleRing {
public:
    // Throws SpeechError naming the reason when the system refuses the memory.
    static std::shared_ptr<SampleRing> create(std::size_t capacity);
    ~SampleRing();
    SampleRing(const SampleRing&) = delete;
    SampleRing& operator=(const SampleRing&) = delete;

    std::size_t capacity() const { return capacity_; }

    // The worker's side: copies block in after the samples written so far, if the space the
    // program has released holds it; false, and nothing written, when it does not.
    bool write(std::span<const std::int16_t> block);
    // Waits until the program has released enough for count more samples, or until the
    // program waits for this worker's samples (then it will release none before it has them);
    // whether there is room.
    bool waitForRoom(std::size_t count) const;
    std::uint64_t written() const { return shared_->written.load(std::memory_order_acquire); }

    // The program's side: the samples from position on, if the worker has written them and
    // they are not released yet; empty otherwise.
    std::span<std::int16_t> view(std::uint64_t position, std::size_t count) const;
    // Gives the stretch back to the worker. Stretches may come back in any order: the space
    // becomes free up to the first still held.
    void release(std::uint64_t position, std::size_t count);
    // Whether the program is waiting for the chunk this worker renders.
    void setReaderWaiting(bool waiting);

private:
    struct Made {}; // only create() makes one
public:
    SampleRing(Made, std::size_t capacity, char* mapping, std::size_t mappingBytes);

private:
    struct Shared {
        std::atomic<std::uint64_t> written{0};
        std::atomic<std::uint64_t> released{0};
        std::atomic<bool> readerWaiting{false};
    };
    std::int16_t* at(std::uint64_t position) const;
    void unmapReleased(std::uint64_t released);
    void mapAhead(std::uint64_t end);

    std::size_t capacity_;
    char* mapping_;            // the ring twice, then the shared counters
    std::size_t mappingBytes_; // the whole mapping
    Shared* shared_;
    std::map<std::uint64_t, std::uint64_t> releasedAhead_; // start to end, past a held one
    std::uint64_t unmappedUpTo_ = 0; // this process's pages of the ring dropped before this
    std::uint64_t mappedUpTo_ = 0;   // the writer's pages of the ring mapped up to this
};

} // namespace kestrova::speech
