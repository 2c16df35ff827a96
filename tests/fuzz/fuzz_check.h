#pragma once

// What the fuzz targets share: a check that stops the run with the broken property named (so
// that libFuzzer keeps the input), and the input's bytes taken apart.

#include "speech/base/utf8.h"

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

// What a document says of itself (a title, an author, a language), as every reader must give
// it: valid UTF-8 without controls (C0, DEL, C1), line or paragraph separators or direction
// overrides, and no space at its ends or two together. Read here byte by byte, apart from the
// readers' own cleaning.
inline bool isCleanMetadata(std::string_view text) {
    if (text.starts_with(' ') || text.ends_with(' ') || text.find("  ") != std::string_view::npos)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
        if (byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next <= 0x9F))
            return false;
        if (byte == 0xE2 && ((next == 0x80 && (third == 0xA8 || third == 0xA9 ||
                                               (third >= 0xAA && third <= 0xAE))) ||
                             (next == 0x81 && third >= 0xA6 && third <= 0xA9)))
            return false;
    }
    for (std::size_t length; !text.empty(); text.remove_prefix(length))
        if ((length = kestrova::speech::utf8SequenceLength(text)) == 0)
            return false;
    return true;
}

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
