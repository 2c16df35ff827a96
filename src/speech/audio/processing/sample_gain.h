#pragma once

#include <cstdint>
#include <span>

namespace kestrova::speech {

// Multiplies the samples by gain in place, rounding to the nearest step. A sample the gain
// would carry past full scale is limited to it; returns how many were.
std::uint64_t applyGain(std::span<std::int16_t> samples, double gain);

} // namespace kestrova::speech
