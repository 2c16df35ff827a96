#pragma once

#include "speech/base/block_handover.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace kestrova::speech {

// Pieces of work made on up to `threads` threads side by side and taken, in order, on the
// caller's: produce(piece, handover) pushes a piece's blocks, take(block) is given each of
// them, piece after piece. Each piece has its own bounded handover of `capacity` blocks, so
// a thread ahead of the caller waits once it holds that much. A failure on either side stops
// every thread and is rethrown here, the first piece's before a later one's; no thread
// outlives the call.
template <typename Block>
void takePiecesInOrder(std::size_t pieces, unsigned threads, std::size_t capacity,
                       const std::function<void(std::size_t, BlockHandover<Block>&)>& produce,
                       const std::function<void(Block&)>& take) {
    std::vector<std::unique_ptr<BlockHandover<Block>>> handovers;
    for (std::size_t piece = 0; piece < pieces; ++piece)
        handovers.push_back(std::make_unique<BlockHandover<Block>>(capacity));
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> stopping = false;
    const auto work = [&] {
        for (std::size_t piece = next++; piece < pieces && !stopping; piece = next++) {
            try {
                produce(piece, *handovers[piece]);
                handovers[piece]->finish();
            } catch (...) {
                handovers[piece]->fail(std::current_exception());
            }
        }
    };
    std::vector<std::thread> workers;
    try {
        for (unsigned thread = 0; thread < std::max(1u, threads) && thread < pieces; ++thread)
            workers.emplace_back(work);
        for (const auto& handover : handovers) {
            while (std::optional<Block> block = handover->pop())
                take(*block);
            handover->rethrow();
        }
    } catch (...) {
        stopping = true;
        for (const auto& handover : handovers)
            handover->stop();
        for (std::thread& worker : workers)
            worker.join();
        throw;
    }
    for (std::thread& worker : workers)
        worker.join();
}

} // namespace kestrova::speech
