#include "speech/voice.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace kestrova::speech {
namespace {

bool isAsciiLetters(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

bool isAsciiDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Tags and eSpeak NG's ids compare in ASCII lower case, with '_' taken as '-'.
std::string normalized(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = c == '_' ? '-' : (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return result;
}

std::vector<std::string> subtagsOf(std::string_view normalizedTag) {
    std::vector<std::string> subtags;
    std::size_t start = 0;
    for (std::size_t dash; (dash = normalizedTag.find('-', start)) != std::string_view::npos;
         start = dash + 1)
        subtags.emplace_back(normalizedTag.substr(start, dash - start));
    subtags.emplace_back(normalizedTag.substr(start));
    return subtags;
}

// Where a document's code and eSpeak NG's differ: eSpeak NG names Chinese by its spoken
// languages (Mandarin first), Norwegian by Bokmål, and knows Hebrew and Indonesian only by
// their current codes.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> espeakCodes{{
    {"zh", "cmn"},
    {"no", "nb"},
    {"iw", "he"},
    {"in", "id"},
}};

// A language whose voices all name a region: the one read when the tag names none.
// eSpeak NG itself ranks British English first; American English is this program's
// default voice, so a bare "en" keeps to it.
constexpr std::array<std::pair<std::string_view, std::string_view>, 2> regionalDefaults{{
    {"en", "en-us"},
    {"fr", "fr-fr"},
}};

struct LanguageTag {
    std::string whole;    // "de-at", "cmn-latn-pinyin"
    std::string language; // eSpeak NG's code: "de", "cmn"
    std::string region;   // "at", "419", or empty
};

// The parts of a BCP 47 tag that choose a voice; std::nullopt for no language at all.
std::optional<LanguageTag> parsedTag(std::string_view tag) {
    LanguageTag parsed{.whole = normalized(tag), .language = {}, .region = {}};
    const std::vector<std::string> subtags = subtagsOf(parsed.whole);
    std::string language = subtags.front();
    if (language.size() < 2 || language.size() > 8 || !isAsciiLetters(language))
        return std::nullopt; // empty, private use ("x-..."), grandfathered ("i-...")
    std::size_t next = 1;
    // An extended language subtag names the language itself: "zh-yue" is "yue".
    if (next < subtags.size() && subtags[next].size() == 3 && isAsciiLetters(subtags[next]))
        language = subtags[next++];
    if (next < subtags.size() && subtags[next].size() == 4 && isAsciiLetters(subtags[next]))
        ++next; // the script: eSpeak NG's voices are not chosen by it
    if (next < subtags.size() && ((subtags[next].size() == 2 && isAsciiLetters(subtags[next])) ||
                                  (subtags[next].size() == 3 && isAsciiDigits(subtags[next]))))
        parsed.region = subtags[next];
    for (const auto& [code, espeakCode] : espeakCodes)
        if (language == code)
            language = espeakCode;
    parsed.language = std::move(language);
    return parsed;
}

std::string primaryLanguageOf(std::string_view tag) {
    const auto parsed = parsedTag(tag);
    return parsed ? parsed->language : std::string();
}

} // namespace

std::optional<Voice> VoiceRegistry::voiceForLanguage(std::string_view languageTag) const {
    const auto tag = parsedTag(languageTag);
    if (!tag)
        return std::nullopt;
    std::vector<const Voice*> espeakVoices;
    for (const Voice& voice : voices_)
        if (voice.engine == EngineKind::EspeakNg)
            espeakVoices.push_back(&voice);
    const auto withId = [&](std::string_view id) -> const Voice* {
        const auto match =
            std::find_if(espeakVoices.begin(), espeakVoices.end(),
                         [&](const Voice* voice) { return normalized(voice->id) == id; });
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
        if (primaryLanguageOf(voice->language) == tag->language)
            return *voice;
    return std::nullopt;
}

bool speaksLanguage(const Voice& voice, std::string_view languageTag) {
    const auto tag = parsedTag(languageTag);
    if (!tag)
        return false;
    // Undetermined, several, or no linguistic content: any voice will do.
    if (tag->language == "und" || tag->language == "mul" || tag->language == "zxx")
        return true;
    return primaryLanguageOf(voice.language) == tag->language;
}

} // namespace kestrova::speech
