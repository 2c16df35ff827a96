#pragma once

#include <string_view>

namespace kestrova::app {

inline constexpr int format16kHz16BitMono = 18;
inline constexpr int format22kHz16BitMono = 22;

// The output format an engine gets: 16 kHz for the engines that were built for it (a name
// with both "16" and "ATT" in it, or exactly "VW KATE" or "VW PAUL" in any letter case),
// 22.05 kHz for every other. The name is taken as given, untrimmed.
int formatCodeForEngine(std::string_view EngineName);

} // namespace kestrova::app
