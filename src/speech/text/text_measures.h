#pragma once

#include <cstdint>

namespace kestrova::speech {

// A byte that continues a UTF-8 character rather than starting one.
inline bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Fewer characters a second than any voice speaks: guesses of the length of speech made
// from it run long rather than short.
inline constexpr std::uint64_t slowCharactersPerSecond = 8;

} // namespace kestrova::speech
