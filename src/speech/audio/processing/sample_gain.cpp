#include "sample_gain.h"

#include <cmath>
#include <limits>

namespace kestrova::speech {

std::uint64_t applyGain(std::span<std::int16_t> samples, double gain) {
    constexpr double highest = std::numeric_limits<std::int16_t>::max();
    constexpr double lowest = std::numeric_limits<std::int16_t>::min();
    std::uint64_t limited = 0;
    for (std::int16_t& sample : samples) {
        double scaled = std::nearbyint(sample * gain);
        if (scaled > highest || scaled < lowest) {
            scaled = scaled > highest ? highest : lowest;
            ++limited;
        }
        sample = static_cast<std::int16_t>(scaled);
    }
    return limited;
}

} // namespace kestrova::speech
