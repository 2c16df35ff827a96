#include "speech/render/chunk_checksum.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kestrova::speech {
namespace chunk_checksum {

// Odd constants with their bits well spread, as multiplicative hashing wants them.
constexpr std::uint64_t first = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t second = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t third = 0x165667B19E3779F9ULL;

std::uint64_t wordAt(const unsigned char* bytes) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

std::uint64_t round(std::uint64_t lane, std::uint64_t word) {
    return std::rotl(lane + word * second, 31) * first;
}

// Every bit of the result depends on every bit of the value.
std::uint64_t avalanche(std::uint64_t value) {
    value ^= value >> 33;
    value *= second;
    value ^= value >> 29;
    value *= third;
    return value ^ (value >> 32);
}

} // namespace chunk_checksum

ChunkChecksum::ChunkChecksum()
    : lanes_{chunk_checksum::first + chunk_checksum::second, chunk_checksum::second, 0,
             0 - chunk_checksum::first} {}

// The lanes in locals: stores into members through the bytes' type, which may alias anything,
// would make every round wait for memory.
void ChunkChecksum::addStripes(const unsigned char* bytes, std::size_t stripes) {
    std::uint64_t a = lanes_[0], b = lanes_[1], c = lanes_[2], d = lanes_[3];
    for (; stripes > 0; --stripes, bytes += stripeBytes) {
        a = chunk_checksum::round(a, chunk_checksum::wordAt(bytes));
        b = chunk_checksum::round(b, chunk_checksum::wordAt(bytes + 8));
        c = chunk_checksum::round(c, chunk_checksum::wordAt(bytes + 16));
        d = chunk_checksum::round(d, chunk_checksum::wordAt(bytes + 24));
    }
    lanes_ = {a, b, c, d};
}

void ChunkChecksum::add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    totalBytes_ += size;
    if (carriedBytes_ > 0) {
        const std::size_t taken = std::min(size, stripeBytes - carriedBytes_);
        std::memcpy(carried_.data() + carriedBytes_, bytes, taken);
        carriedBytes_ += taken;
        bytes += taken;
        size -= taken;
        if (carriedBytes_ < stripeBytes)
            return;
        addStripes(carried_.data(), 1);
        carriedBytes_ = 0;
    }
    const std::size_t stripes = size / stripeBytes;
    addStripes(bytes, stripes);
    bytes += stripes * stripeBytes;
    size -= stripes * stripeBytes;
    std::memcpy(carried_.data(), bytes, size);
    carriedBytes_ = size;
}

// The lanes and the bytes left over, which zeros fill out to a stripe, and the length, so that
// zeros at the end are not the same as no bytes.
std::uint64_t ChunkChecksum::value() const {
    std::array<std::uint64_t, 4> lanes = lanes_;
    std::array<unsigned char, stripeBytes> last{};
    std::memcpy(last.data(), carried_.data(), carriedBytes_);
    for (std::size_t lane = 0; lane < lanes.size(); ++lane)
        lanes[lane] =
            chunk_checksum::round(lanes[lane], chunk_checksum::wordAt(last.data() + 8 * lane));
    std::uint64_t value = totalBytes_ * chunk_checksum::third;
    for (std::size_t lane = 0; lane < lanes.size(); ++lane)
        value = chunk_checksum::round(
            value ^ std::rotl(lanes[lane], static_cast<int>(7 * lane + 1)), lanes[lane]);
    return chunk_checksum::avalanche(value);
}

} // namespace kestrova::speech
