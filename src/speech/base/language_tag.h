#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrova::speech {

// A BCP 47 tag in the one form tags and eSpeak NG's voice ids compare in: ASCII lower case,
// '_' taken as '-' ("de_AT" is "de-at").
std::string normalizedLanguageTag(std::string_view tag);

// The parts of a tag that choose and compare voices.
struct LanguageTag {
    std::string whole;    // normalized: "de-at", "zh-latn-pinyin"
    std::string language; // "de"; "yue" for "zh-yue"; "cmn" for "zh"
    std::string region;   // "at", "419", or empty
};

// std::nullopt for a tag that names no language: empty, private use ("x-..."), grandfathered
// ("i-...") or not a tag at all.
std::optional<LanguageTag> parsedLanguageTag(std::string_view tag);

// Whether two tags name one language, whatever their letter case, separators, scripts and
// regions: "de-AT" and "DE", "zh-Hant_TW" and "cmn". Tags that name no language are the
// same where their first subtags are, so that such a tag is still the same as itself.
bool sameLanguage(std::string_view a, std::string_view b);

} // namespace kestrova::speech
