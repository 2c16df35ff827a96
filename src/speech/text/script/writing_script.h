#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// The writing system a text is in, where a document does not say its language: a voice is
// chosen by the script of most of its letters (Han: Mandarin, kana: Japanese...).
namespace kestrova::speech {

struct WritingScript {
    std::string name;     // as Unicode names it: "Han", "Arabic", "Devanagari"
    std::string language; // the language whose voice reads it: "cmn", "ar", "hi"
};

// Counts the letters of a text by script, a piece at a time; marks, digits, punctuation and
// spaces count for none.
class ScriptTally {
public:
    void add(std::string_view utf8);
    std::size_t letters() const { return letters_; }
    // How many letters of the script Unicode calls name ("Han", "Hiragana").
    std::size_t lettersOf(std::string_view name) const;
    // The script of most letters, with the language read in it; nullopt: no letters, Latin
    // (the voice chosen already reads it) or a script no language here is read in.
    std::optional<WritingScript> dominant() const;

private:
    std::map<int, std::size_t> byScript_; // ICU's UScriptCode
    std::size_t letters_ = 0;
};

} // namespace kestrova::speech
