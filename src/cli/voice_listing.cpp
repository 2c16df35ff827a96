#include "voice_listing.h"

#include "speech/json_text.h"
#include "speech/speech_error.h"
#include "speech/voice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

void listVoices(const VoiceRegistry& registry) {
    std::size_t nameWidth = 4;
    std::size_t idWidth = 2;
    for (const Voice& voice : registry.voices()) {
        nameWidth = std::max(nameWidth, voice.displayName.size());
        idWidth = std::max(idWidth, voice.id.size());
    }
    std::printf("%-*s  %-*s  %-16s  %s\n", static_cast<int>(nameWidth), "NAME",
                static_cast<int>(idWidth), "ID", "LANGUAGE", "RATE");
    for (const Voice& voice : registry.voices())
        std::printf("%-*s  %-*s  %-16s  %d\n", static_cast<int>(nameWidth),
                    voice.displayName.c_str(), static_cast<int>(idWidth), voice.id.c_str(),
                    voice.language.c_str(), voice.nativeRate);
    // An engine that cannot start is left out of the list, with one line saying why.
    for (const UnavailableEngine& engine : registry.unavailableEngines())
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s is left out: %s\n",
                     engineName(engine.engine), engine.reason.c_str());
    std::string defaultVoice;
    try {
        defaultVoice = registry.defaultVoice().displayName;
    } catch (const SpeechError&) {
        defaultVoice = "none (unavailable)";
    }
    std::printf("\nDefault voice (empty engine name): %s\n", defaultVoice.c_str());
}

// The same list for scripts: a JSON array of one object per voice.
void listVoicesAsJson(const VoiceRegistry& registry) {
    const Voice* defaultVoice = nullptr;
    try {
        defaultVoice = &registry.defaultVoice();
    } catch (const SpeechError&) {
    }
    std::string json = "[";
    for (const Voice& voice : registry.voices()) {
        json += json.size() == 1 ? "\n" : ",\n";
        json += "  {\"displayName\": " + jsonString(voice.displayName) +
                ", \"id\": " + jsonString(voice.id) +
                ", \"language\": " + jsonString(voice.language) +
                ", \"nativeRate\": " + std::to_string(voice.nativeRate) +
                ", \"engine\": " + jsonString(engineName(voice.engine)) +
                ", \"default\": " + (&voice == defaultVoice ? "true" : "false") + "}";
    }
    json += registry.voices().empty() ? "]\n" : "\n]\n";
    std::fputs(json.c_str(), stdout);
    for (const UnavailableEngine& engine : registry.unavailableEngines())
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s is left out: %s\n",
                     engineName(engine.engine), engine.reason.c_str());
}

} // namespace

int listVoicesCommand(bool asJson) {
    if (asJson)
        listVoicesAsJson(VoiceRegistry());
    else
        listVoices(VoiceRegistry());
    // The list is what was asked for: losing it is a failure. (A reader that has gone ends
    // the listing by SIGPIPE, as with any program that writes a list.)
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "kestrova-wav-cli: cannot write the voice list: %s\n",
                     std::strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace kestrova::cli
