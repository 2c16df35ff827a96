// Pieces made on several threads reach the caller in order, and a failure on either side
// ends every thread and comes back to the caller.

#include "speech/base/ordered_pieces.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace kestrova::speech {
namespace {

void threeBlocks(std::size_t piece, BlockHandover<int>& handover, std::size_t failing) {
    for (int block = 0; block < 3; ++block) {
        if (piece == failing && block == 1)
            throw std::runtime_error("piece " + std::to_string(piece));
        if (!handover.push(static_cast<int>(piece) * 3 + block))
            return;
    }
}

TEST(OrderedPieces, AreTakenInOrderWhateverTheThreads) {
    for (const unsigned threads : {1u, 2u, 4u}) {
        std::vector<int> taken;
        takePiecesInOrder<int>(
            40, threads, 1,
            [](std::size_t piece, auto& handover) { threeBlocks(piece, handover, 99); },
            [&](int& block) { taken.push_back(block); });
        ASSERT_EQ(taken.size(), 120u);
        for (int at = 0; at < 120; ++at)
            EXPECT_EQ(taken[static_cast<std::size_t>(at)], at);
    }
}

TEST(OrderedPieces, AFailureOnEitherSideStopsEveryThread) {
    std::vector<int> taken;
    EXPECT_THROW(
        {
            try {
                takePiecesInOrder<int>(
                    40, 2, 2,
                    [](std::size_t piece, auto& handover) { threeBlocks(piece, handover, 7); },
                    [&](int& block) { taken.push_back(block); });
            } catch (const std::runtime_error& failure) {
                EXPECT_STREQ(failure.what(), "piece 7");
                throw;
            }
        },
        std::runtime_error);
    // The pieces before, and the failing one's first block if it was taken before the failure.
    EXPECT_GE(taken.size(), 21u);
    EXPECT_LE(taken.size(), 22u);

    std::size_t seen = 0;
    EXPECT_THROW(takePiecesInOrder<int>(
                     40, 2, 2,
                     [](std::size_t piece, auto& handover) { threeBlocks(piece, handover, 99); },
                     [&](int&) {
                         if (++seen == 10)
                             throw std::logic_error("taker");
                     }),
                 std::logic_error);
}

} // namespace
} // namespace kestrova::speech
