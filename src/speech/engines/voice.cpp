#include "speech/voice.h"

#include "speech/engines/voice_discovery.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/lexicon/case_folder.h"

#include <algorithm>

namespace kestrova::speech {
namespace {

std::string unavailability(const UnavailableEngine& engine) {
    return std::string(engineName(engine.engine)) + " is unavailable: " + engine.reason;
}

} // namespace

const char* engineName(EngineKind engine) {
    switch (engine) {
    case EngineKind::Flite:
        return "Flite";
    case EngineKind::Command:
        return "voice command";
    case EngineKind::EspeakNg:
        break;
    }
    return "eSpeak NG";
}

VoiceRegistry::VoiceRegistry() : VoiceRegistry(installedEngines()) {}

VoiceRegistry::VoiceRegistry(std::vector<Voice> voices) : voices_(std::move(voices)) {}

VoiceRegistry::VoiceRegistry(const std::vector<VoiceSource>& sources) {
    for (const VoiceSource& source : sources) {
        try {
            std::vector<Voice> found = source.listVoices();
            voices_.insert(voices_.end(), found.begin(), found.end());
        } catch (const SpeechError& failure) {
            unavailable_.push_back({.engine = source.engine, .reason = failure.what()});
        }
    }
}

const Voice& VoiceRegistry::find(std::string_view engineName) const {
    if (engineName.empty())
        return defaultVoice();
    const auto byName = std::find_if(voices_.begin(), voices_.end(), [&](const Voice& voice) {
        return voice.displayName == engineName;
    });
    if (byName != voices_.end())
        return *byName;
    CaseFolder folder;
    const auto folded = folder.fold(engineName);
    for (const auto key : {&Voice::displayName, &Voice::id}) {
        const auto match = std::find_if(voices_.begin(), voices_.end(), [&](const Voice& voice) {
            return folded && folder.fold(voice.*key) == folded;
        });
        if (match != voices_.end())
            return *match;
    }
    // Display names begin with the engine's name: such a name asks for that engine.
    for (const UnavailableEngine& engine : unavailable_) {
        const auto prefix = folder.fold(std::string(speech::engineName(engine.engine)) + " ");
        if (folded && folded->starts_with(*prefix))
            throw SpeechError("cannot use the voice " + quotedName(engineName) + ": " +
                              unavailability(engine));
    }
    std::string message = "unknown voice " + quotedName(engineName) +
                          " (\"kestrova-wav-cli voices\" lists the voices)";
    for (const UnavailableEngine& engine : unavailable_)
        message += "; " + unavailability(engine);
    throw SpeechError(message);
}

const Voice& VoiceRegistry::defaultVoice() const {
    const auto match = std::find_if(voices_.begin(), voices_.end(), [](const Voice& voice) {
        return voice.engine == EngineKind::EspeakNg && voice.id == defaultVoiceId;
    });
    if (match != voices_.end())
        return *match;
    for (const UnavailableEngine& engine : unavailable_)
        if (engine.engine == EngineKind::EspeakNg)
            throw SpeechError("cannot use the default voice: " + unavailability(engine));
    if (voices_.empty())
        throw SpeechError("no voice is installed");
    return voices_.front();
}

} // namespace kestrova::speech
