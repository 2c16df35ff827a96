#include "voice_discovery.h"

#include "speech/engines/espeak_engine.h"
#include "speech/engines/flite_engine.h"

namespace kestrova::speech {

std::vector<VoiceSource> installedEngines() {
    return {{EngineKind::EspeakNg,
             [] {
                 return EspeakEngine::instance().voices();
             }},
            {EngineKind::Flite, [] {
                 return FliteEngine::instance().voices();
             }}};
}

} // namespace kestrova::speech
