#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrova::speech {

// The checksum of a kept chunk's bytes: it is there to catch a file cut short or damaged by a
// power cut, not a forgery (the folder is this user's alone, and the file's name is the
// SHA-256 of what its samples depend on). Four lanes of 64-bit multiply-and-rotate rounds over
// the bytes read as little-endian words, many times as fast as zlib's CRC-32, which cost a
// conversion keeping its chunks as much again as their writes. The bytes may come in pieces
// of any size: the value is that of the bytes, however they were cut.
class ChunkChecksum {
public:
    ChunkChecksum();
    void add(const void* data, std::size_t size);
    std::uint64_t value() const;

private:
    static constexpr std::size_t stripeBytes = 32;
    void addStripes(const unsigned char* bytes, std::size_t stripes);

    std::array<std::uint64_t, 4> lanes_;
    std::array<unsigned char, stripeBytes> carried_{};
    std::size_t carriedBytes_ = 0;
    std::uint64_t totalBytes_ = 0;
};

} // namespace kestrova::speech
