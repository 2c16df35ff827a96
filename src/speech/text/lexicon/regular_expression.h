#pragma once

#define PCRE2_CODE_UNIT_WIDTH 8
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <pcre2.h>
#include <string>
#include <string_view>

namespace kestrova::speech {

// A compiled PCRE2 pattern in UTF mode with Unicode properties, matched under bounds: a
// pattern that backtracks without end fails with PCRE2's "match limit exceeded" instead of
// hanging. \C, which could split a character, is refused. Every failure is a SpeechError
// carrying PCRE2's own message. Immutable once built, so it may be shared between threads.
class RegularExpression {
public:
    // extraOptions add to PCRE2_UTF | PCRE2_UCP | PCRE2_NEVER_BACKSLASH_C, e.g. PCRE2_CASELESS.
    // A pattern PCRE2 refuses throws "MESSAGE at offset N".
    explicit RegularExpression(std::string_view pattern, std::uint32_t extraOptions = 0);
    // As the constructor, but nothing for a pattern beyond the size of PCRE2's compiled form,
    // so that a caller may split it.
    static std::optional<RegularExpression> unlessTooLarge(std::string_view pattern,
                                                           std::uint32_t extraOptions = 0);

    struct Match {
        std::size_t start;
        std::size_t end;
        std::string mark; // the last (*MARK:NAME) passed, empty if none
    };
    // The first match starting at or after offset. With subjectChecked the subject is known to
    // be valid UTF-8 and is not checked again (checking costs a pass over it every call).
    std::optional<Match> find(std::string_view subject, std::size_t offset = 0,
                              bool subjectChecked = false) const;

    // Every match replaced; $1, ${1}, ${name} and $$ in the replacement as PCRE2 reads them,
    // a group that took no part in a match giving nothing. Nothing if the result would be
    // longer than maximumLength bytes, found before it is made.
    std::optional<std::string> replaceAll(std::string_view subject, std::string_view replacement,
                                          std::size_t maximumLength) const;

    // Throws when replaceAll could not use replacement with this pattern: bad $ syntax or a
    // group that does not exist. Checked without a subject, so before any text is seen.
    void checkReplacement(std::string_view replacement) const;

    // Throws for text that is no valid UTF-8, with PCRE2's description of the first fault.
    static void checkUtf8(std::string_view text);

    // PCRE2's wording of an error code.
    static std::string errorMessage(int code);

private:
    struct CodeFree {
        void operator()(pcre2_code* code) const { pcre2_code_free(code); }
    };
    struct MatchContextFree {
        void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
    };
    struct MatchDataFree {
        void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
    };
    using MatchData = std::unique_ptr<pcre2_match_data, MatchDataFree>;

    struct TooLarge {};
    RegularExpression(std::string_view pattern, std::uint32_t extraOptions, TooLarge);

    MatchData newMatchData() const;
    std::string probePattern() const;

    std::unique_ptr<pcre2_code, CodeFree> code_;
    std::unique_ptr<pcre2_match_context, MatchContextFree> matchContext_;
};

} // namespace kestrova::speech
