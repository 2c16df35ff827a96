#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

enum class EngineKind { EspeakNg, Flite, Command };

// "eSpeak NG", "Flite", "voice command": how messages and display names call the engine.
const char* engineName(EngineKind engine);

// A program of the user's own as a voice: a shell command line that reads a chunk's text on
// its standard input, or from the file where it says {text}, and writes its sound on its
// standard output, or into the file where it says {wav}: a WAV file, or with rawRate raw
// signed 16-bit little-endian mono samples at that rate.
struct VoiceCommand {
    std::string line;
    int rawRate = 0;          // Hz; 0: the sound is a WAV file
    int timeoutSeconds = 600; // for one chunk, after which its process group is ended
};

struct Voice {
    EngineKind engine;
    std::string displayName;   // "eSpeak NG English (America)", "Flite slt"
    std::string id;            // "en-us", "slt"
    std::string language;      // "en-us"
    int nativeRate;            // Hz, the rate the engine renders at
    std::string engineVoice;   // what the engine itself is given to select the voice
    VoiceCommand command = {}; // a Command voice's; empty for the others
};

// The voice a command gives, named name (empty: the command's first word). The command is run
// once on a short text, which tells its rate (unless rawRate says it) and that it works; throws
// SpeechError naming the command and why it failed, ConversionCancelled once cancel is set.
Voice commandVoice(const VoiceCommand& command, std::string name,
                   const std::atomic<bool>* cancel = nullptr);

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

    // The eSpeak NG voice for a language as documents tag it ("de", "de-AT", "en-GB",
    // "zh-Hans", "cmn", "pt_BR"): the voice whose id is the tag (any letter case, '_' as
    // '-'), else the voice of its language and region, else the language's own voice (its
    // bare id, "en-us" for "en", "fr-fr" for "fr", else the first of that language).
    // eSpeak NG's codes stand for the document's: "zh" is "cmn", "no" is "nb".
    // std::nullopt when no eSpeak NG voice speaks it, or the tag names no language.
    std::optional<Voice> voiceForLanguage(std::string_view languageTag) const;

    static constexpr std::string_view defaultVoiceId = "en-us";

private:
    std::vector<Voice> voices_;
    std::vector<UnavailableEngine> unavailable_;
};

// Whether a voice speaks a tag's language: the primary languages compare in eSpeak NG's
// codes ("zh-Hans" is spoken by "cmn", "en" by "en-gb" and by Flite's voices). An
// undetermined language ("und", "mul", "zxx") is spoken by every voice; a tag that names
// no language by none.
bool speaksLanguage(const Voice& voice, std::string_view languageTag);

} // namespace kestrova::speech
