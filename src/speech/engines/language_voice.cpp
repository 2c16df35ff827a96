#include "speech/engines/language_voice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace kestrova::speech {
namespace {

std::string lowerTag(std::string_view tag) {
    std::string lower(tag);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return c == '_' ? '-' : static_cast<char>(std::tolower(c));
    });
    return lower;
}

// Tags a document may carry that eSpeak NG knows by another name.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> languageAliases{
    {{"zh", "cmn"}, {"iw", "he"}, {"in", "id"}, {"ji", "yi"}, {"no", "nb"}, {"tl", "fil"}}};

} // namespace

std::string primaryLanguage(std::string_view tag) {
    std::string primary = lowerTag(tag.substr(0, tag.find_first_of("-_")));
    for (const auto& [alias, name] : languageAliases)
        if (primary == alias)
            return std::string(name);
    return primary;
}

bool speaksLanguage(const Voice& voice, std::string_view tag) {
    return !tag.empty() && primaryLanguage(voice.language) == primaryLanguage(tag);
}

const Voice* voiceForLanguage(const VoiceRegistry& registry, std::string_view tag) {
    if (tag.empty())
        return nullptr;
    const std::string wanted = lowerTag(tag);
    const std::string primary = primaryLanguage(tag);
    const Voice* exact = nullptr;
    const Voice* ofPrimary = nullptr;
    const Voice* first = nullptr;
    for (const Voice& voice : registry.voices()) {
        if (voice.engine != EngineKind::EspeakNg || !speaksLanguage(voice, tag))
            continue;
        const std::string language = lowerTag(voice.language);
        if (!exact && language == wanted)
            exact = &voice;
        if (!ofPrimary && language == primary)
            ofPrimary = &voice;
        if (!first)
            first = &voice;
    }
    if (exact)
        return exact;
    try {
        const Voice& fallback = registry.defaultVoice();
        if (speaksLanguage(fallback, tag))
            return &fallback;
    } catch (const std::exception&) {
        // eSpeak NG is missing: no voice of it speaks anything.
    }
    return ofPrimary ? ofPrimary : first;
}

} // namespace kestrova::speech
