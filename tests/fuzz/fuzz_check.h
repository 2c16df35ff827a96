#pragma once

// What the fuzz targets share: a check that stops the run with the broken property named (so
// that libFuzzer keeps the input), and the input's bytes taken apart.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace kestrova::fuzz {

// Reads the leading bytes of an input as parameters; what is left is the text.
class InputBytes {
public:
    InputBytes(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    // The next byte (0 once none is left).
    std::uint8_t take() {
        if (rest_.empty())
            return 0;
        const auto byte = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return byte;
    }
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
};

// Piece sizes for feeding a text in parts, drawn from a seed: 1 to maxPiece bytes each.
class PieceSizes {
public:
    PieceSizes(std::uint32_t seed, std::size_t maxPiece) : state_(seed | 1), max_(maxPiece) {}
    std::size_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return 1 + state_ % max_;
    }

private:
    std::uint32_t state_;
    std::size_t max_;
};

} // namespace kestrova::fuzz
