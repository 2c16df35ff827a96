#include "speech/render/worker_pool.h"
#include "speech/voice.h"
#include "support/value_sweep.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace kestrova::speech {
namespace {

struct StartCase {
    unsigned workers;
    int chunks;
    std::uint64_t charactersEach; // how far each chunk takes the text
    std::size_t started;
};

class WorkerStarts : public ::testing::TestWithParam<StartCase> {};

// Workers start as runs of chunks arrive: a short text never forks the whole allowance, and
// chunks that make one run go to one worker.
TEST_P(WorkerStarts, NeverMoreThanChunksInFlight) {
    const VoiceRegistry registry;
    const Voice& voice = registry.find("slt");
    WorkerPool pool(voice, 22050, GetParam().workers);
    EXPECT_EQ(pool.startedWorkers(), 0u);
    for (int i = 0; i < GetParam().chunks; ++i) {
        RenderTask task;
        task.text = "Sentence " + std::to_string(i) + ".";
        task.voice = voice;
        task.endCharacter = GetParam().charactersEach * static_cast<std::uint64_t>(i + 1);
        pool.submit(std::move(task));
    }
    EXPECT_EQ(pool.startedWorkers(), GetParam().started);
    int rendered = 0;
    while (const auto chunk = pool.next(true)) {
        EXPECT_FALSE(chunk->samples.empty());
        ++rendered;
    }
    EXPECT_EQ(rendered, GetParam().chunks);
    EXPECT_EQ(pool.startedWorkers(), GetParam().started);
}

INSTANTIATE_TEST_SUITE_P(Table, WorkerStarts,
                         test::sweep(StartCase{1000, 1, 10, 1},
                                     StartCase{8, 3, WorkerPool::longestRunCharacters, 3},
                                     StartCase{2, 5, WorkerPool::longestRunCharacters, 2},
                                     StartCase{1, 2, WorkerPool::longestRunCharacters, 1},
                                     StartCase{0, 2, WorkerPool::longestRunCharacters, 1},
                                     StartCase{8, 5, 10, 1}));

std::vector<RenderedChunk> renderAll(unsigned workers, std::size_t ringSamples) {
    const VoiceRegistry registry;
    const Voice& voice = registry.find("eSpeak NG English (America)");
    WorkerPool pool(voice, 22050, workers, nullptr, 0, ringSamples);
    std::vector<RenderedChunk> chunks;
    for (int i = 0; i < 6; ++i) {
        RenderTask task;
        task.text = "Chunk " + std::to_string(i) + " has a sentence. And then another one.";
        task.voice = voice;
        task.pauses.sentenceMs = 250 * i;
        task.endCharacter =
            WorkerPool::longestRunCharacters / 2 * static_cast<std::uint64_t>(i + 1);
        pool.submit(std::move(task));
        while (auto chunk = pool.next(false))
            chunks.push_back(std::move(*chunk));
    }
    while (auto chunk = pool.next(true))
        chunks.push_back(std::move(*chunk));
    return chunks;
}

// A ring of one page holds no chunk whole: each comes partly in place, partly through the
// socket, and still arrives as the same samples, with its pauses where they were, as through
// a ring that holds them all and for any number of workers. A ring of a few chunks fills with
// chunks this caller keeps: waiting for the next, it gets it through the socket.
TEST(WorkerPool, SamplesAreTheSameWhateverTheRingHolds) {
    const std::vector<RenderedChunk> roomy = renderAll(2, WorkerPool::defaultRingSamples);
    ASSERT_EQ(roomy.size(), 6u);
    for (const auto& [workers, ring] : {std::pair{2u, std::size_t{1}},
                                        {1u, std::size_t{1}},
                                        {1u, std::size_t{150'000}},
                                        {1u, WorkerPool::defaultRingSamples}}) {
        const std::vector<RenderedChunk> other = renderAll(workers, ring);
        ASSERT_EQ(other.size(), roomy.size());
        for (std::size_t i = 0; i < roomy.size(); ++i) {
            const std::string label = "chunk " + std::to_string(i) + ", " +
                                      std::to_string(workers) + " workers, ring " +
                                      std::to_string(ring);
            EXPECT_FALSE(roomy[i].samples.empty()) << label;
            EXPECT_TRUE(other[i].samples == roomy[i].samples) << label;
            ASSERT_EQ(other[i].silences.size(), roomy[i].silences.size()) << label;
            for (std::size_t s = 0; s < roomy[i].silences.size(); ++s) {
                EXPECT_EQ(other[i].silences[s].before, roomy[i].silences[s].before) << label;
                EXPECT_EQ(other[i].silences[s].frames, roomy[i].silences[s].frames) << label;
            }
        }
        EXPECT_EQ(roomy[5].silences.size(), 1u);
    }
}

// A worker ahead of a slow writer waits for the writer to release its ring rather than
// sending the samples through the socket into the program's memory: every chunk comes in
// place, though the ring holds only a few of them.
TEST(WorkerPool, WorkerAheadOfASlowWriterWaitsForRoomInItsRing) {
    const VoiceRegistry registry;
    const Voice& voice = registry.find("eSpeak NG English (America)");
    WorkerPool pool(voice, 22050, 1, nullptr, 0, 150'000);
    constexpr int chunks = 10;
    for (int i = 0; i < chunks; ++i) {
        RenderTask task;
        task.text = "Chunk " + std::to_string(i) + " has a sentence. And then another one.";
        task.voice = voice;
        task.endCharacter = 100 * static_cast<std::uint64_t>(i + 1);
        pool.submit(std::move(task));
    }
    for (int taken = 0; taken < chunks;) {
        std::optional<RenderedChunk> chunk = pool.next(false);
        if (!chunk) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            continue;
        }
        ASSERT_LT(chunk->samples.size(), 150'000u / 2);
        EXPECT_TRUE(chunk->samples.shared()) << "chunk " << taken;
        ++taken;
    }
}

} // namespace
} // namespace kestrova::speech
