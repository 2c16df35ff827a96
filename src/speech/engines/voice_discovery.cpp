#include "voice_discovery.h"

#include "speech/engines/espeak_engine.h"
#include "speech/engines/flite_engine.h"

namespace kestrova::speech {

std::vector<Voice> discoverVoices() {
    std::vector<Voice> voices = EspeakEngine::instance().voices();
    std::vector<Voice> flite = FliteEngine::instance().voices();
    voices.insert(voices.end(), flite.begin(), flite.end());
    return voices;
}

} // namespace kestrova::speech
