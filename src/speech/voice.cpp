#include "voice.h"

#include "speech/engines/voice_discovery.h"
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

} // namespace kestrova::speech
