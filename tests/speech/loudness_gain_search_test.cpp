// The search for the gain that brings a limited sound to its target, on the levels the
// limiter gave real sounds: a word whose gating falls as the gain rises, and speech whose
// level the limiter holds whatever the gain.

#include "speech/conversion/loudness/loudness_gain_search.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace kestrova::speech {
namespace {

// Between the levels measured at these gains, a straight line.
double between(const std::vector<std::pair<double, double>>& measured, double gain) {
    const auto above = std::find_if(measured.begin(), measured.end(),
                                    [&](const auto& point) { return point.first >= gain; });
    if (above == measured.begin() || above == measured.end())
        return above == measured.end() ? measured.back().second : above->second;
    const auto below = above - 1;
    const double share = (gain - below->first) / (above->first - below->first);
    return below->second + share * (above->second - below->second);
}

// eSpeak NG's "Hi" through the -4.2 dBTP threshold of --acx's MP3 file: the level falls by
// 0.3 LU between +1.9 and +2.4 dB, and the secant step it gave went to +5.5 dB (-18.2 LUFS
// for -19).
TEST(LoudnessGainSearch, FindsTheTargetPastAStepOfTheGating) {
    const std::vector<std::pair<double, double>> word = {
        {1.43, -19.767}, {1.93, -19.455}, {2.43, -19.759}, {2.93, -19.499}, {3.43, -19.239},
        {3.93, -18.968}, {4.43, -18.703}, {4.93, -18.453}, {5.43, -18.229}, {9.43, -16.948}};
    int estimates = 0;
    const FoundGain found =
        searchGain({.targetLufs = -19, .plainGainDb = 1.932, .mostGainDb = 9.5}, [&](double gain) {
            ++estimates;
            return between(word, gain);
        });
    EXPECT_FALSE(found.heldAtMost);
    EXPECT_NEAR(between(word, found.gainDb), -19.0, 0.05);
    EXPECT_LE(estimates, 6);
}

// Speech the limiter holds at about -16 LUFS however much gain it is given: the gain stops
// at the most, and says so, where it used to run to +84 dB.
TEST(LoudnessGainSearch, StopsAtTheMostWhenTheTargetIsOutOfReach) {
    const auto held = [](double gain) {
        return -16.0 - 4.9 * std::exp(-gain / 6.0);
    };
    for (const double plain : {3.0, 15.9}) {
        const FoundGain found =
            searchGain({.targetLufs = -5, .plainGainDb = plain, .mostGainDb = 7.5}, held);
        EXPECT_TRUE(found.heldAtMost);
        EXPECT_EQ(found.gainDb, 7.5);
    }
}

} // namespace
} // namespace kestrova::speech
