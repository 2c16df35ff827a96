#include "speech/render/worker_pool.h"
#include "speech/voice.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace kestrova::speech
