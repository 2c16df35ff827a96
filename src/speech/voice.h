#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

enum class EngineKind { EspeakNg, Flite };

struct Voice {
    EngineKind engine;
    std::string displayName; // "eSpeak NG English (America)", "Flite slt"
    std::string id;          // "en-us", "slt"
    std::string language;    // "en-us"
    int nativeRate;          // Hz, the rate the engine renders at
    std::string engineVoice; // what the engine itself is given to select the voice
};

// Every usable voice of the installed engines, found at run time.
class VoiceRegistry {
public:
    VoiceRegistry(); // discovers the voices
    explicit VoiceRegistry(std::vector<Voice> voices);

    const std::vector<Voice>& voices() const { return voices_; }

    // The voice an engine name selects: the exact display name, else the display name in
    // any letter case, else the voice id (any letter case); an empty name selects the
    // default voice. Throws SpeechError naming an unknown name.
    const Voice& find(std::string_view engineName) const;
    const Voice& defaultVoice() const;

    static constexpr std::string_view defaultVoiceId = "en-us";

private:
    std::vector<Voice> voices_;
};

} // namespace kestrova::speech
