#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct XXH3_state_s;

namespace kestrova::speech {

// The checksum of a kept chunk's bytes, xxHash's XXH3 of 64 bits: it is there to catch a file
// cut short or damaged by a power cut, not a forgery (the folder is this user's alone, and the
// file's name is the SHA-256 of what its samples depend on). Many times as fast as zlib's
// CRC-32, which cost a conversion keeping its chunks as much again as their writes. The bytes
// may come in pieces of any size.
class ChunkChecksum {
public:
    ChunkChecksum();
    void add(const void* data, std::size_t size);
    std::uint64_t value() const;

private:
    struct StateRelease {
        void operator()(XXH3_state_s* state) const;
    };
    std::unique_ptr<XXH3_state_s, StateRelease> state_;
};

} // namespace kestrova::speech
