#include "sample_ring.h"

#include "speech/speech_error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace kestrova::speech {
namespace {

[[noreturn]] void refused(const char* step) {
    throw SpeechError(std::string("cannot share memory with a speech worker (") + step +
                      "): " + std::strerror(errno));
}

// Shared anonymous memory at the fixed address at, over the reserved range.
void shareAt(char* at, std::size_t bytes) {
    if (::mmap(at, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
        MAP_FAILED)
        refused("mmap");
}

} // namespace

// Shared anonymous memory rather than a memory file: no file size limit the user set for the
// output applies to it. The ring's pages are mirrored right after it (mremap of a shared
// mapping with no old size maps the same pages again), then a page of counters.
std::shared_ptr<SampleRing> SampleRing::create(std::size_t capacity) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t ringBytes = (capacity * sizeof(std::int16_t) + page - 1) / page * page;
    const std::size_t mappingBytes = 2 * ringBytes + page;
    void* reserved = ::mmap(nullptr, mappingBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED)
        refused("mmap");
    auto ring = std::make_shared<SampleRing>(Made{}, ringBytes / sizeof(std::int16_t),
                                             static_cast<char*>(reserved), mappingBytes);
    char* base = ring->mapping_;
    shareAt(base, ringBytes);
    if (::mremap(base, 0, ringBytes, MREMAP_MAYMOVE | MREMAP_FIXED, base + ringBytes) == MAP_FAILED)
        refused("mremap");
    shareAt(base + 2 * ringBytes, page);
    ring->shared_ = std::construct_at(reinterpret_cast<Shared*>(base + 2 * ringBytes));
    return ring;
}

SampleRing::SampleRing(Made, std::size_t capacity, char* mapping, std::size_t mappingBytes)
    : capacity_(capacity), mapping_(mapping), mappingBytes_(mappingBytes), shared_(nullptr) {}

SampleRing::~SampleRing() {
    ::munmap(mapping_, mappingBytes_);
}

std::int16_t* SampleRing::at(std::uint64_t position) const {
    return reinterpret_cast<std::int16_t*>(mapping_) + position % capacity_;
}

bool SampleRing::write(std::span<const std::int16_t> block) {
    const std::uint64_t written = shared_->written.load(std::memory_order_relaxed);
    const std::uint64_t released = shared_->released.load(std::memory_order_acquire);
    if (written - released + block.size() > capacity_)
        return false;
    mapAhead(written + block.size());
    std::memcpy(at(written), block.data(), block.size_bytes());
    shared_->written.store(written + block.size(), std::memory_order_release);
    return true;
}

// Polled, not signalled: it only waits while the program is slower than the worker, where a
// wake-up a fraction of a millisecond late costs nothing.
bool SampleRing::waitForRoom(std::size_t count) const {
    const auto hasRoom = [&] {
        return shared_->written.load(std::memory_order_relaxed) -
                   shared_->released.load(std::memory_order_acquire) + count <=
               capacity_;
    };
    auto pause = std::chrono::microseconds(100);
    while (!hasRoom()) {
        if (shared_->readerWaiting.load(std::memory_order_acquire))
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(4000));
    }
    return true;
}

void SampleRing::setReaderWaiting(bool waiting) {
    shared_->readerWaiting.store(waiting, std::memory_order_release);
}

// A run's child starts with none of the ring's pages in its page tables: it maps them a
// megabyte at a time before writing, which costs a fraction of a fault for every page. Where
// the system cannot, the writes fault them in.
void SampleRing::mapAhead(std::uint64_t end) {
    constexpr std::uint64_t step = (std::uint64_t{1} << 20) / sizeof(std::int16_t);
    if (end <= mappedUpTo_)
        return;
    const std::uint64_t written = shared_->written.load(std::memory_order_relaxed);
    const std::uint64_t from = std::max(mappedUpTo_, written / step * step);
    const std::uint64_t to = std::min((end + step - 1) / step * step, from + capacity_);
    ::madvise(reinterpret_cast<char*>(at(from)), (to - from) * sizeof(std::int16_t),
              MADV_POPULATE_WRITE);
    mappedUpTo_ = to;
}

std::span<std::int16_t> SampleRing::view(std::uint64_t position, std::size_t count) const {
    const std::uint64_t released = shared_->released.load(std::memory_order_relaxed);
    if (position < released || count > capacity_ || position + count > written() ||
        position + count < position)
        return {};
    return {at(position), count};
}

void SampleRing::release(std::uint64_t position, std::size_t count) {
    std::uint64_t released = shared_->released.load(std::memory_order_relaxed);
    if (position != released) {
        releasedAhead_.emplace(position, position + count);
        return;
    }
    released += count;
    for (auto next = releasedAhead_.begin();
         next != releasedAhead_.end() && next->first == released; next = releasedAhead_.erase(next))
        released = next->second;
    shared_->released.store(released, std::memory_order_release);
    unmapReleased(released);
}

// The released pages leave this process's mapping, both copies (the worker keeps them, and
// so does the memory file), so that samples already written out do not count against the
// program's memory. In steps of a megabyte: a call for every chunk would cost more.
void SampleRing::unmapReleased(std::uint64_t released) {
    constexpr std::uint64_t step = (std::uint64_t{1} << 20) / sizeof(std::int16_t);
    const std::uint64_t from = unmappedUpTo_ / step * step;
    const std::uint64_t to = released / step * step;
    if (to <= from)
        return;
    const std::uint64_t count = std::min<std::uint64_t>(to - from, capacity_);
    const std::uint64_t start = (to - count) % capacity_;
    const std::uint64_t first = std::min<std::uint64_t>(count, capacity_ - start);
    const auto drop = [this](std::uint64_t offset, std::uint64_t samples) {
        for (char* copy : {mapping_, mapping_ + capacity_ * sizeof(std::int16_t)})
            ::madvise(copy + offset * sizeof(std::int16_t), samples * sizeof(std::int16_t),
                      MADV_DONTNEED);
    };
    drop(start, first);
    if (count > first)
        drop(0, count - first);
    unmappedUpTo_ = to;
}

} // namespace kestrova::speech
