#pragma once

#include "speech/voice.h"

#include <vector>

namespace kestrova::speech {

// Every usable voice of the installed engines: eSpeak NG's first, then Flite's.
std::vector<Voice> discoverVoices();

} // namespace kestrova::speech
