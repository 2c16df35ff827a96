#pragma once

#include <functional>

namespace kestrova::speech {

// Nearer the target than this, a limited sound's loudness is taken as reaching it.
inline constexpr double closeEnoughLu = 0.05;

// What the gain that brings a limited sound to a target is searched within.
struct GainSearch {
    double targetLufs = 0;
    double plainGainDb = 0; // the target less the sound's own loudness: the gain unlimited
    double mostGainDb = 0;  // above it the limiter would crush the sound
};

struct FoundGain {
    double gainDb = 0;
    bool heldAtMost = false; // the target needs more than mostGainDb: the gain stopped there
};

// The gain whose limited sound levelAt measures within a twentieth of a LU of the target,
// from the gain without limiting upwards and never above the most. The limiter takes more
// loudness off the more it is given, and gating a short sound can make the level fall where
// the gain rises: each level is checked, and once one passes the target the gain is looked
// for between the last below and the first above.
FoundGain searchGain(const GainSearch& search, const std::function<double(double)>& levelAt);

} // namespace kestrova::speech
