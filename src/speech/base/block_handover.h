#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace kestrova::speech {

// Blocks from a producing thread to a consuming one, in order. Bounded, so that memory stays
// small when the consumer is the slower; either side's failure is kept for the other to
// rethrow() and wakes it, and drops what is queued. Each side is woken only when the other
// has something for it, a block at a time: on a loaded machine every wake-up waits its turn.
template <typename Block> class BlockHandover {
public:
    explicit BlockHandover(std::size_t capacity) : capacity_(capacity) {}

    // Waits for room; false once either side has failed or the consumer has stopped.
    bool push(Block block) {
        std::unique_lock lock(mutex_);
        roomMade_.wait(lock, [this] { return blocks_.size() < capacity_ || failure_ || stopped_; });
        if (failure_ || stopped_)
            return false;
        blocks_.push_back(std::move(block));
        if (blocks_.size() == 1)
            blockAdded_.notify_one();
        return true;
    }

    // The next block; none once the producer has finished and nothing is left, or after a
    // failure or a stop.
    std::optional<Block> pop() {
        std::unique_lock lock(mutex_);
        blockAdded_.wait(lock,
                         [this] { return !blocks_.empty() || finished_ || stopped_ || failure_; });
        if (stopped_ || failure_ || blocks_.empty())
            return std::nullopt;
        Block block = std::move(blocks_.front());
        blocks_.pop_front();
        if (blocks_.size() == capacity_ - 1)
            roomMade_.notify_one();
        return block;
    }

    void fail(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        if (!failure_)
            failure_ = std::move(failure);
        blocks_.clear();
        roomMade_.notify_one();
        blockAdded_.notify_one();
    }
    // The producer has pushed its last block.
    void finish() {
        const std::lock_guard lock(mutex_);
        finished_ = true;
        blockAdded_.notify_one();
    }
    // Both sides are going away: what is queued is dropped, neither waits any longer.
    void stop() {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        blocks_.clear();
        roomMade_.notify_one();
        blockAdded_.notify_one();
    }
    void rethrow() {
        const std::lock_guard lock(mutex_);
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable blockAdded_;
    std::condition_variable roomMade_;
    std::deque<Block> blocks_;
    std::exception_ptr failure_;
    bool finished_ = false;
    bool stopped_ = false;
};

} // namespace kestrova::speech
