#pragma once

#include <algorithm>
#include <cmath>
#include <iterator>
#include <span>

namespace kestrova::speech {

// One measurement of an engine's setting: what a listener hears with it, as a ratio of what
// the voice does by default (how fast, how high).
struct ResponsePoint {
    double ratio;
    double setting;
};

// The setting that gives a ratio, interpolated between measured points in increasing order
// of ratio (on logarithmic scales where the settings are positive); beyond them, the nearest
// end, which is also what a ratio that is not a number gets.
inline double settingFor(double ratio, std::span<const ResponsePoint> response) {
    if (!(ratio > response.front().ratio))
        return response.front().setting;
    if (ratio >= response.back().ratio)
        return response.back().setting;
    const auto above =
        std::find_if(response.begin(), response.end(),
                     [ratio](const ResponsePoint& point) { return point.ratio > ratio; });
    const auto below = std::prev(above);
    const double position = std::log(ratio / below->ratio) / std::log(above->ratio / below->ratio);
    if (below->setting <= 0)
        return below->setting + position * (above->setting - below->setting);
    return below->setting * std::pow(above->setting / below->setting, position);
}

} // namespace kestrova::speech
