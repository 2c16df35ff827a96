#include "synthesizer.h"

#include "speech/engines/command/command_synthesizer.h"
#include "speech/engines/espeak_engine.h"
#include "speech/engines/flite_engine.h"

namespace kestrova::speech {

std::unique_ptr<Synthesizer> makeSynthesizer(const Voice& voice) {
    if (voice.engine == EngineKind::Command)
        return std::make_unique<CommandSynthesizer>(voice);
    if (voice.engine == EngineKind::Flite)
        return std::make_unique<FliteSynthesizer>(voice);
    return std::make_unique<EspeakSynthesizer>(voice);
}

} // namespace kestrova::speech
