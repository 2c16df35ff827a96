#include "speech/render/chunk_checksum.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace kestrova::speech {
namespace chunk_checksum_test {

std::vector<unsigned char> spreadBytes(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    std::uint32_t state = 12345;
    for (unsigned char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

std::uint64_t checksumOf(const std::vector<unsigned char>& bytes, std::size_t piece) {
    ChunkChecksum checksum;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        checksum.add(bytes.data() + at, std::min(piece, bytes.size() - at));
    return checksum.value();
}

// A chunk file is checked in the pieces it is written in (its head, silences, samples): the
// same bytes cut anywhere give the same value, across the 32-byte stripes too.
TEST(ChunkChecksum, TheValueIsOfTheBytesHoweverTheyAreCut) {
    const std::vector<unsigned char> bytes = spreadBytes(1000);
    const std::uint64_t whole = checksumOf(bytes, bytes.size());
    for (std::size_t piece = 1; piece <= 70; ++piece)
        EXPECT_EQ(checksumOf(bytes, piece), whole) << piece;
}

// What a power cut does to a file: a bit or a block changed, the end cut off or filled with
// zeros. Each changes the value.
TEST(ChunkChecksum, DamageChangesTheValue) {
    const std::vector<unsigned char> bytes = spreadBytes(10000);
    const std::uint64_t whole = checksumOf(bytes, bytes.size());
    for (std::size_t at = 0; at < bytes.size(); at += 97)
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<unsigned char> flipped = bytes;
            flipped[at] ^= static_cast<unsigned char>(1 << bit);
            EXPECT_NE(checksumOf(flipped, flipped.size()), whole) << at << ":" << bit;
        }
    std::vector<unsigned char> zeroed = bytes;
    std::fill(zeroed.begin() + 4096, zeroed.begin() + 8192, 0);
    EXPECT_NE(checksumOf(zeroed, zeroed.size()), whole);
    for (std::size_t cut = 1; cut <= 40; ++cut) {
        const std::vector<unsigned char> shorter(bytes.begin(), bytes.end() - cut);
        EXPECT_NE(checksumOf(shorter, shorter.size()), whole) << cut;
        std::vector<unsigned char> padded = shorter;
        padded.resize(bytes.size() + cut, 0);
        EXPECT_NE(checksumOf(padded, padded.size()), checksumOf(shorter, shorter.size())) << cut;
    }
}

} // namespace chunk_checksum_test
} // namespace kestrova::speech
