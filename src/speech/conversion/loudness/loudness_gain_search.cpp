#include "speech/conversion/loudness/loudness_gain_search.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace kestrova::speech {
namespace {

// Each estimate of the level runs the limiter over the loud parts of the sound.
constexpr int mostEstimates = 6;

struct Probe {
    double gainDb;
    double level;
};

// Raised by the shortfall, scaled by how much the last raise gave (a secant step); that
// scale at most 4, however little the limiter let through or however the gating fell.
double raisedGain(const Probe& last, const std::optional<Probe>& before, double target) {
    double slope = 1.0; // LU the limited sound gains for each dB of gain
    if (before && last.gainDb != before->gainDb)
        slope =
            std::clamp((last.level - before->level) / (last.gainDb - before->gainDb), 0.25, 1.0);
    return last.gainDb + (target - last.level) / slope;
}

// Between a gain short of the target and one past it: where the line between them meets it,
// or the middle where that line falls near either end or the level fell with the gain.
double gainBetween(const Probe& below, const Probe& above, double target) {
    const double width = above.gainDb - below.gainDb;
    if (above.level > below.level) {
        const double gain =
            below.gainDb + (target - below.level) * width / (above.level - below.level);
        if (gain > below.gainDb + 0.1 * width && gain < above.gainDb - 0.1 * width)
            return gain;
    }
    return below.gainDb + width / 2;
}

} // namespace

FoundGain searchGain(const GainSearch& search, const std::function<double(double)>& levelAt) {
    const double target = search.targetLufs;
    if (search.plainGainDb >= search.mostGainDb)
        return {.gainDb = search.mostGainDb, .heldAtMost = true};
    Probe below{.gainDb = search.plainGainDb, .level = levelAt(search.plainGainDb)};
    // The limiter takes loudness off, never adds it: only a shortfall is searched from.
    if (!(target - below.level > closeEnoughLu))
        return {.gainDb = below.gainDb};
    std::optional<Probe> beforeBelow;
    std::optional<Probe> above;
    for (int estimate = 1; estimate < mostEstimates; ++estimate) {
        if (!above && below.gainDb >= search.mostGainDb)
            return {.gainDb = search.mostGainDb, .heldAtMost = true};
        const double gain =
            above ? gainBetween(below, *above, target)
                  : std::min(raisedGain(below, beforeBelow, target), search.mostGainDb);
        const Probe probe{.gainDb = gain, .level = levelAt(gain)};
        if (std::abs(probe.level - target) <= closeEnoughLu)
            return {.gainDb = gain};
        if (probe.level > target) {
            above = probe;
        } else {
            beforeBelow = below;
            below = probe;
        }
    }
    if (!above)
        return {.gainDb = below.gainDb, .heldAtMost = below.gainDb >= search.mostGainDb};
    // Gating can leave a step at the target: the nearer of the two.
    return {.gainDb = target - below.level <= above->level - target ? below.gainDb : above->gainDb};
}

} // namespace kestrova::speech
