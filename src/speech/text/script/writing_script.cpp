#include "speech/text/script/writing_script.h"

#include "speech/base/utf8.h"

#include <algorithm>
#include <array>
#include <unicode/uchar.h>
#include <unicode/uscript.h>

namespace kestrova::speech {
namespace {

struct ScriptLanguage {
    UScriptCode script;
    std::string_view language;
};

// The language of each script's largest community that eSpeak NG speaks; Japanese writes Han
// and kana together, and Korean Hangul with some Han, which dominant() weighs.
constexpr std::array<ScriptLanguage, 27> scriptLanguages{{
    {.script = USCRIPT_HAN, .language = "cmn"},
    {.script = USCRIPT_JAPANESE, .language = "ja"},
    {.script = USCRIPT_KOREAN, .language = "ko"},
    {.script = USCRIPT_HIRAGANA, .language = "ja"},
    {.script = USCRIPT_KATAKANA, .language = "ja"},
    {.script = USCRIPT_HANGUL, .language = "ko"},
    {.script = USCRIPT_ARABIC, .language = "ar"},
    {.script = USCRIPT_HEBREW, .language = "he"},
    {.script = USCRIPT_CYRILLIC, .language = "ru"},
    {.script = USCRIPT_GREEK, .language = "el"},
    {.script = USCRIPT_DEVANAGARI, .language = "hi"},
    {.script = USCRIPT_BENGALI, .language = "bn"},
    {.script = USCRIPT_GURMUKHI, .language = "pa"},
    {.script = USCRIPT_GUJARATI, .language = "gu"},
    {.script = USCRIPT_ORIYA, .language = "or"},
    {.script = USCRIPT_TAMIL, .language = "ta"},
    {.script = USCRIPT_TELUGU, .language = "te"},
    {.script = USCRIPT_KANNADA, .language = "kn"},
    {.script = USCRIPT_MALAYALAM, .language = "ml"},
    {.script = USCRIPT_SINHALA, .language = "si"},
    {.script = USCRIPT_THAI, .language = "th"},
    {.script = USCRIPT_ARMENIAN, .language = "hy"},
    {.script = USCRIPT_GEORGIAN, .language = "ka"},
    {.script = USCRIPT_ETHIOPIC, .language = "am"},
    {.script = USCRIPT_MYANMAR, .language = "my"},
    {.script = USCRIPT_THAANA, .language = "dv"},
    {.script = USCRIPT_SYRIAC, .language = "syr"},
}};

std::string_view languageOf(UScriptCode script) {
    const auto row =
        std::find_if(scriptLanguages.begin(), scriptLanguages.end(),
                     [&](const ScriptLanguage& entry) { return entry.script == script; });
    return row == scriptLanguages.end() ? std::string_view{} : row->language;
}

// Japanese writes Han and kana together: kana for a tenth of them or more make the text
// Japanese (a Chinese text may quote a Japanese name); Korean, Hangul with some Han.
UScriptCode withHanWeighed(UScriptCode script, const std::map<int, std::size_t>& byScript) {
    const auto count = [&](UScriptCode of) {
        const auto found = byScript.find(of);
        return found == byScript.end() ? std::size_t{0} : found->second;
    };
    const std::size_t kana = count(USCRIPT_HIRAGANA) + count(USCRIPT_KATAKANA);
    const std::size_t han = count(USCRIPT_HAN);
    const std::size_t hangul = count(USCRIPT_HANGUL);
    if (script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA ||
        (script == USCRIPT_HAN && kana * 10 >= han + kana))
        return han == 0 ? script : USCRIPT_JAPANESE;
    if (script == USCRIPT_HANGUL || (script == USCRIPT_HAN && hangul * 10 >= han + hangul))
        return han == 0 ? USCRIPT_HANGUL : USCRIPT_KOREAN;
    return script;
}

} // namespace

void ScriptTally::add(std::string_view utf8) {
    for (std::size_t at = 0; at < utf8.size();) {
        const CodePoint point = codePointAt(utf8.substr(at));
        at += std::max<std::size_t>(point.length, 1);
        if (point.value < 0 || !u_isalpha(point.value))
            continue;
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(point.value, &status);
        if (U_FAILURE(status) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED)
            continue;
        ++byScript_[script];
        ++letters_;
    }
}

std::size_t ScriptTally::lettersOf(std::string_view name) const {
    std::size_t count = 0;
    for (const auto& [script, letters] : byScript_)
        if (name == uscript_getName(static_cast<UScriptCode>(script)))
            count += letters;
    return count;
}

std::optional<WritingScript> ScriptTally::dominant() const {
    const auto most =
        std::max_element(byScript_.begin(), byScript_.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most == byScript_.end())
        return std::nullopt;
    const auto script = withHanWeighed(static_cast<UScriptCode>(most->first), byScript_);
    const std::string_view language = languageOf(script);
    if (language.empty())
        return std::nullopt;
    // ICU names the two mixed scripts by their codes alone.
    const std::string name = script == USCRIPT_JAPANESE ? "Han and kana"
                             : script == USCRIPT_KOREAN ? "Hangul and Han"
                                                        : uscript_getName(script);
    return WritingScript{.name = name, .language = std::string(language)};
}

} // namespace kestrova::speech
