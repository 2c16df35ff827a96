#include "speech/render/chunk_checksum.h"

#include <new>
#include <xxhash.h>

namespace kestrova::speech {

void ChunkChecksum::StateRelease::operator()(XXH3_state_s* state) const {
    XXH3_freeState(state);
}

ChunkChecksum::ChunkChecksum() : state_(XXH3_createState()) {
    if (!state_ || XXH3_64bits_reset(state_.get()) != XXH_OK)
        throw std::bad_alloc();
}

void ChunkChecksum::add(const void* data, std::size_t size) {
    XXH3_64bits_update(state_.get(), data, size);
}

std::uint64_t ChunkChecksum::value() const {
    return XXH3_64bits_digest(state_.get());
}

} // namespace kestrova::speech
