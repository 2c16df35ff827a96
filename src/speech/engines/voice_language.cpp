#include "speech/base/language_tag.h"
#include "speech/voice.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace kestrova::speech {
namespace {

// A language whose voices all name a region: the one read when the tag names none.
// eSpeak NG itself ranks British English first; American English is this program's
// default voice, so a bare "en" keeps to it.
constexpr std::array<std::pair<std::string_view, std::string_view>, 2> regionalDefaults{{
    {"en", "en-us"},
    {"fr", "fr-fr"},
}};

} // namespace

std::optional<Voice> VoiceRegistry::voiceForLanguage(std::string_view languageTag) const {
    const auto tag = parsedLanguageTag(languageTag);
    if (!tag)
        return std::nullopt;
    std::vector<const Voice*> espeakVoices;
    for (const Voice& voice : voices_)
        if (voice.engine == EngineKind::EspeakNg)
            espeakVoices.push_back(&voice);
    const auto withId = [&](std::string_view id) -> const Voice* {
        const auto match =
            std::find_if(espeakVoices.begin(), espeakVoices.end(), [&](const Voice* voice) {
                return normalizedLanguageTag(voice->id) == id;
            });
        return match == espeakVoices.end() ? nullptr : *match;
    };
    std::string regionalDefault = tag->language;
    for (const auto& [language, id] : regionalDefaults)
        if (tag->language == language)
            regionalDefault = id;
    for (const std::string& id :
         {tag->whole, tag->region.empty() ? std::string() : tag->language + "-" + tag->region,
          tag->language, regionalDefault})
        if (const Voice* voice = id.empty() ? nullptr : withId(id))
            return *voice;
    for (const Voice* voice : espeakVoices)
        if (sameLanguage(voice->language, languageTag))
            return *voice;
    return std::nullopt;
}

bool speaksLanguage(const Voice& voice, std::string_view languageTag) {
    const auto tag = parsedLanguageTag(languageTag);
    if (!tag)
        return false;
    // Undetermined, several, or no linguistic content: any voice will do.
    if (tag->language == "und" || tag->language == "mul" || tag->language == "zxx")
        return true;
    return sameLanguage(voice.language, languageTag);
}

} // namespace kestrova::speech
