#pragma once

#include <cstdint>

namespace kestrova::speech {

// Fewer characters a second than any voice speaks: guesses of the length of speech made
// from it run long rather than short.
inline constexpr std::uint64_t slowCharactersPerSecond = 8;

} // namespace kestrova::speech
