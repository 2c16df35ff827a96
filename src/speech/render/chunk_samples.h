#pragma once

#include "speech/render/sample_ring.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestrova::speech {

// A chunk's samples: either a stretch of a worker's shared ring, read in place and released
// when the chunk goes, or samples of its own. Contiguous either way, so that a span views it.
class ChunkSamples {
public:
    ChunkSamples() = default;
    ChunkSamples(std::vector<std::int16_t> samples) : own_(std::move(samples)) {}
    ~ChunkSamples() { releaseShared(); }
    ChunkSamples(ChunkSamples&& other) noexcept;
    ChunkSamples& operator=(ChunkSamples&& other) noexcept;
    // A copy holds samples of its own.
    ChunkSamples(const ChunkSamples& other) : own_(other.begin(), other.end()) {}
    ChunkSamples& operator=(const ChunkSamples& other);

    std::int16_t* data() { return ring_ ? shared_.data() : own_.data(); }
    const std::int16_t* data() const { return ring_ ? shared_.data() : own_.data(); }
    std::size_t size() const { return ring_ ? shared_.size() : own_.size(); }
    bool empty() const { return size() == 0; }
    std::int16_t* begin() { return data(); }
    std::int16_t* end() { return data() + size(); }
    const std::int16_t* begin() const { return data(); }
    const std::int16_t* end() const { return data() + size(); }
    std::int16_t& operator[](std::size_t i) { return data()[i]; }
    std::int16_t operator[](std::size_t i) const { return data()[i]; }
    bool operator==(const ChunkSamples& other) const;

    // Whether the samples are a stretch of a ring, not copies.
    bool shared() const { return ring_ != nullptr; }
    // Samples that follow in the ring: the stretch grows when they come right after it and
    // nothing else was added; otherwise they are copied on and released.
    bool appendShared(const std::shared_ptr<SampleRing>& ring, std::uint64_t position,
                      std::size_t count);
    void append(std::span<const std::int16_t> samples);
    // The samples as a vector of their own, for reading more onto: a stretch is copied.
    std::vector<std::int16_t>& own();

private:
    void releaseShared();

    std::vector<std::int16_t> own_;
    std::shared_ptr<SampleRing> ring_; // set while the samples are a stretch of it
    std::uint64_t position_ = 0;
    std::span<std::int16_t> shared_;
};

} // namespace kestrova::speech
