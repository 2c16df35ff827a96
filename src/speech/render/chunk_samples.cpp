#include "chunk_samples.h"

#include <algorithm>
#include <utility>

namespace kestrova::speech {

ChunkSamples::ChunkSamples(ChunkSamples&& other) noexcept
    : own_(std::move(other.own_)), ring_(std::move(other.ring_)), position_(other.position_),
      shared_(std::exchange(other.shared_, {})) {}

ChunkSamples& ChunkSamples::operator=(ChunkSamples&& other) noexcept {
    if (this != &other) {
        releaseShared();
        own_ = std::move(other.own_);
        ring_ = std::move(other.ring_);
        position_ = other.position_;
        shared_ = std::exchange(other.shared_, {});
    }
    return *this;
}

ChunkSamples& ChunkSamples::operator=(const ChunkSamples& other) {
    if (this != &other)
        *this = ChunkSamples(other);
    return *this;
}

bool ChunkSamples::operator==(const ChunkSamples& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
}

bool ChunkSamples::appendShared(const std::shared_ptr<SampleRing>& ring, std::uint64_t position,
                                std::size_t count) {
    if (empty() && !ring_) {
        shared_ = ring->view(position, count);
        if (shared_.size() != count)
            return false;
        ring_ = ring;
        position_ = position;
        own_.clear();
        return true;
    }
    if (ring_ == ring && position == position_ + shared_.size()) {
        const std::span<std::int16_t> longer = ring->view(position_, shared_.size() + count);
        if (longer.empty())
            return false;
        shared_ = longer;
        return true;
    }
    const std::span<const std::int16_t> more = ring->view(position, count);
    if (more.size() != count)
        return false;
    append(more);
    ring->release(position, count);
    return true;
}

void ChunkSamples::append(std::span<const std::int16_t> samples) {
    own().insert(own_.end(), samples.begin(), samples.end());
}

std::vector<std::int16_t>& ChunkSamples::own() {
    if (ring_) {
        own_.insert(own_.end(), shared_.begin(), shared_.end());
        releaseShared();
    }
    return own_;
}

void ChunkSamples::releaseShared() {
    if (ring_)
        ring_->release(position_, shared_.size());
    ring_.reset();
    shared_ = {};
}

} // namespace kestrova::speech
