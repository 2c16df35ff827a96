// The handover between two threads: blocks in order, and a failure or stop on either side
// wakes the other where it waits, rather than leaving it blocked for ever.

#include "speech/base/block_handover.h"

#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrova::speech {
namespace {

TEST(BlockHandover, GivesEveryBlockInOrderThenEnds) {
    BlockHandover<int> handover(2);
    std::thread producer([&] {
        for (int block = 0; block < 100; ++block)
            ASSERT_TRUE(handover.push(block));
        handover.finish();
    });
    std::vector<int> taken;
    while (const auto block = handover.pop())
        taken.push_back(*block);
    producer.join();
    ASSERT_EQ(taken.size(), 100u);
    for (int block = 0; block < 100; ++block)
        EXPECT_EQ(taken[block], block);
    EXPECT_NO_THROW(handover.rethrow());
}

// The consumer waits on an empty queue when the producer fails: it wakes with nothing and
// rethrows the producer's failure.
TEST(BlockHandover, AProducersFailureReachesAWaitingConsumer) {
    BlockHandover<int> handover(2);
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        handover.fail(std::make_exception_ptr(std::runtime_error("disk full")));
    });
    EXPECT_FALSE(handover.pop());
    producer.join();
    EXPECT_THROW(handover.rethrow(), std::runtime_error);
}

// The producer waits on a full queue when the consumer fails or stops: its push gives false.
TEST(BlockHandover, AConsumersFailureOrStopFreesAWaitingProducer) {
    for (const bool failing : {true, false}) {
        BlockHandover<int> handover(1);
        ASSERT_TRUE(handover.push(1));
        bool pushed = true;
        std::thread producer([&] { pushed = handover.push(2); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (failing)
            handover.fail(std::make_exception_ptr(std::runtime_error("write failed")));
        else
            handover.stop();
        producer.join();
        EXPECT_FALSE(pushed);
        EXPECT_FALSE(handover.pop()) << "what was queued is dropped";
    }
}

} // namespace
} // namespace kestrova::speech
