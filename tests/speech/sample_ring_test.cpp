#include "speech/base/child_process.h"
#include "speech/render/chunk_samples.h"
#include "speech/render/sample_ring.h"

#include <gtest/gtest.h>
#include <numeric>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

std::vector<std::int16_t> counting(std::size_t count, std::int16_t from) {
    std::vector<std::int16_t> samples(count);
    std::iota(samples.begin(), samples.end(), from);
    return samples;
}

std::vector<std::int16_t> copied(std::span<const std::int16_t> samples) {
    return {samples.begin(), samples.end()};
}

// Stretches that cross the ring's end read back whole and in order, lap after lap: the
// pages are mapped twice, one after the other.
TEST(SampleRing, StretchesAcrossItsEndReadBackWhole) {
    const std::shared_ptr<SampleRing> ring = SampleRing::create(1000);
    const std::size_t capacity = ring->capacity();
    ASSERT_GE(capacity, 1000u);
    const std::size_t stretch = capacity / 3 + 7; // never a divisor: every lap wraps elsewhere
    for (int lap = 0; lap < 10; ++lap) {
        const std::uint64_t position = ring->written();
        const auto samples = counting(stretch, static_cast<std::int16_t>(lap * 1000));
        ASSERT_TRUE(ring->write(samples)) << "lap " << lap;
        EXPECT_EQ(copied(ring->view(position, stretch)), samples) << "lap " << lap;
        ring->release(position, stretch);
    }
}

// The writer waits for the reader's releases, which may come back out of order: the room
// grows only up to the first stretch still held.
TEST(SampleRing, RoomComesBackOnlyUpToTheFirstStretchHeld) {
    const std::shared_ptr<SampleRing> ring = SampleRing::create(1000);
    const std::size_t quarter = ring->capacity() / 4;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(ring->write(counting(quarter, 0)));
    EXPECT_FALSE(ring->write(counting(1, 0)));
    ring->release(quarter, quarter); // the second, while the first is held
    EXPECT_FALSE(ring->write(counting(1, 0)));
    ring->release(0, quarter);
    EXPECT_TRUE(ring->write(counting(2 * quarter, 0)));
    EXPECT_FALSE(ring->write(counting(1, 0)));
    // Released or never written: nothing to view.
    EXPECT_TRUE(ring->view(0, quarter).empty());
    EXPECT_TRUE(ring->view(ring->written() - 1, 2).empty());
    EXPECT_EQ(ring->view(ring->written() - 1, 1).size(), 1u);
}

// What a forked child writes, the parent reads in place.
TEST(SampleRing, ForkedWriterIsReadInPlace) {
    const std::shared_ptr<SampleRing> ring = SampleRing::create(1000);
    const auto samples = counting(ring->capacity(), -500);
    std::optional<ChildProcess> child =
        ChildProcess::start({}, [&](int) { ::_exit(ring->write(samples) ? 0 : 2); });
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->wait().exitedWith(0));
    EXPECT_EQ(copied(ring->view(0, samples.size())), samples);
}

// A chunk's stretch grows with the samples that follow it, and goes back to the ring when
// the chunk goes; samples after others of its own are copied on, and released at once.
TEST(ChunkSamples, HoldsItsStretchUntilItGoes) {
    const std::shared_ptr<SampleRing> ring = SampleRing::create(1000);
    const std::size_t capacity = ring->capacity();
    ASSERT_TRUE(ring->write(counting(capacity / 2, 0)));
    ASSERT_TRUE(ring->write(counting(capacity / 2, 5000)));
    {
        ChunkSamples chunk;
        ASSERT_TRUE(chunk.appendShared(ring, 0, capacity / 4));
        ASSERT_TRUE(chunk.appendShared(ring, capacity / 4, capacity / 4));
        EXPECT_TRUE(chunk.shared());
        EXPECT_EQ(copied(chunk), counting(capacity / 2, 0));
        ChunkSamples moved = std::move(chunk);
        EXPECT_FALSE(ring->write(counting(1, 0)));
        const ChunkSamples copy = moved; // a copy is its own: the ring stays held
        EXPECT_FALSE(copy.shared());
        EXPECT_TRUE(copy == moved);
    }
    EXPECT_TRUE(ring->write(counting(capacity / 2, 0)));

    ChunkSamples mixed(counting(3, 7));
    ASSERT_TRUE(mixed.appendShared(ring, capacity / 2, 2));
    EXPECT_FALSE(mixed.shared());
    EXPECT_EQ(copied(mixed), (std::vector<std::int16_t>{7, 8, 9, 5000, 5001}));
    EXPECT_FALSE(mixed.appendShared(ring, 0, 1)); // released long ago
}

} // namespace
} // namespace kestrova::speech
