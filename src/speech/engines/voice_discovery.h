#pragma once

#include "speech/voice.h"

#include <vector>

namespace kestrova::speech {

// The installed engines, eSpeak NG's first, then Flite's, each listing its usable voices when
// asked; an engine that cannot start says why by throwing.
std::vector<VoiceSource> installedEngines();

} // namespace kestrova::speech
