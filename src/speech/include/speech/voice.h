#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

enum class EngineKind { EspeakNg, Flite };

// "eSpeak NG", "Flite": how messages and display names call the engine.
const char* engineName(EngineKind engine);

struct Voice {
    EngineKind engine;
    std::string displayName; // "eSpeak NG English (America)", "Flite slt"
    std::string id;          // "en-us", "slt"
    std::string language;    // "en-us"
    int nativeRate;          // Hz, the rate the engine renders at
    std::string engineVoice; // what the engine itself is given to select the voice
};

// An engine and the way to list its voices, which throws SpeechError when the engine
// cannot start.
struct VoiceSource {
    EngineKind engine;
    std::function<std::vector<Voice>()> listVoices;
};

// An engine that could not start, and why (the engine's own message).
struct UnavailableEngine {
    EngineKind engine;
    std::string reason;
};

// Every usable voice of the installed engines, found at run time. An engine that cannot
// start is left out, and the other engine's voices stay usable.
class VoiceRegistry {
public:
    VoiceRegistry(); // discovers the voices of eSpeak NG and Flite
    explicit VoiceRegistry(std::vector<Voice> voices);
    explicit VoiceRegistry(const std::vector<VoiceSource>& sources);

    const std::vector<Voice>& voices() const { return voices_; }
    const std::vector<UnavailableEngine>& unavailableEngines() const { return unavailable_; }

    // The voice an engine name selects: the exact display name, else the display name in
    // any letter case (Unicode case folding), else the voice id (any letter case); an empty
    // name selects the default voice. Throws SpeechError naming an unknown name, or the
    // engine and why it is unavailable when the name asks for a voice of that engine.
    const Voice& find(std::string_view engineName) const;
    // eSpeak NG's American English; throws SpeechError when eSpeak NG is unavailable.
    const Voice& defaultVoice() const;

    static constexpr std::string_view defaultVoiceId = "en-us";

private:
    std::vector<Voice> voices_;
    std::vector<UnavailableEngine> unavailable_;
};

} // namespace kestrova::speech
