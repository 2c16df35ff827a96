#include "speech/base/language_tag.h"

#include "speech/ascii.h"

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

std::string espeakCode(std::string language) {
    for (const auto& [code, espeak] : espeakCodes)
        if (language == code)
            return std::string(espeak);
    return language;
}

bool isRegion(std::string_view subtag) {
    return (subtag.size() == 2 && isAsciiLetters(subtag)) ||
           (subtag.size() == 3 && isAsciiDigits(subtag));
}

// What two tags compare by: the language they name, else their first subtag.
std::string comparedPart(std::string_view tag) {
    if (const std::optional<LanguageTag> parsed = parsedLanguageTag(tag))
        return parsed->language;
    const std::string whole = normalizedLanguageTag(tag);
    return whole.substr(0, whole.find('-'));
}

} // namespace

std::string normalizedLanguageTag(std::string_view tag) {
    std::string result = asciiLower(tag);
    std::replace(result.begin(), result.end(), '_', '-');
    return result;
}

std::optional<LanguageTag> parsedLanguageTag(std::string_view tag) {
    LanguageTag parsed{.whole = normalizedLanguageTag(tag), .language = {}, .region = {}};
    const std::vector<std::string> subtags = subtagsOf(parsed.whole);
    std::string language = subtags.front();
    if (language.size() < 2 || language.size() > 8 || !isAsciiLetters(language))
        return std::nullopt;
    std::size_t next = 1;
    // An extended language subtag names the language itself: "zh-yue" is "yue".
    if (next < subtags.size() && subtags[next].size() == 3 && isAsciiLetters(subtags[next]))
        language = subtags[next++];
    if (next < subtags.size() && subtags[next].size() == 4 && isAsciiLetters(subtags[next]))
        ++next; // the script: it chooses no voice
    if (next < subtags.size() && isRegion(subtags[next]))
        parsed.region = subtags[next];
    parsed.language = espeakCode(std::move(language));
    return parsed;
}

bool sameLanguage(std::string_view a, std::string_view b) {
    return comparedPart(a) == comparedPart(b);
}

} // namespace kestrova::speech
