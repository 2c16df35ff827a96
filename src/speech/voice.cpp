#include "voice.h"

#include "speech/engines/espeak_engine.h"
#include "speech/engines/flite_engine.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <cctype>

namespace kestrova::speech {
namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::vector<Voice> discoverVoices() {
    std::vector<Voice> voices = EspeakEngine::instance().voices();
    std::vector<Voice> flite = FliteEngine::instance().voices();
    voices.insert(voices.end(), flite.begin(), flite.end());
    return voices;
}

} // namespace

VoiceRegistry::VoiceRegistry() : voices_(discoverVoices()) {}

VoiceRegistry::VoiceRegistry(std::vector<Voice> voices) : voices_(std::move(voices)) {}

const Voice& VoiceRegistry::find(std::string_view engineName) const {
    if (engineName.empty())
        return defaultVoice();
    const auto byName = std::find_if(voices_.begin(), voices_.end(), [&](const Voice& voice) {
        return voice.displayName == engineName;
    });
    if (byName != voices_.end())
        return *byName;
    for (const auto key : {&Voice::displayName, &Voice::id}) {
        const auto match = std::find_if(voices_.begin(), voices_.end(), [&](const Voice& voice) {
            return equalIgnoringCase(voice.*key, engineName);
        });
        if (match != voices_.end())
            return *match;
    }
    throw SpeechError("unknown voice \"" + std::string(engineName) +
                      "\" (\"kestrova-wav-cli voices\" lists the voices)");
}

const Voice& VoiceRegistry::defaultVoice() const {
    const auto match = std::find_if(voices_.begin(), voices_.end(), [](const Voice& voice) {
        return voice.engine == EngineKind::EspeakNg && voice.id == defaultVoiceId;
    });
    if (match != voices_.end())
        return *match;
    if (voices_.empty())
        throw SpeechError("no voice is installed");
    return voices_.front();
}

std::unique_ptr<Synthesizer> makeSynthesizer(const Voice& voice) {
    if (voice.engine == EngineKind::Flite)
        return std::make_unique<FliteSynthesizer>(voice);
    return std::make_unique<EspeakSynthesizer>(voice);
}

} // namespace kestrova::speech
