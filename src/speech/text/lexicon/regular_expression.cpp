#include "regular_expression.h"

#include "speech/speech_error.h"

#include <algorithm>
#include <vector>

namespace kestrova::speech {

namespace {

constexpr std::uint32_t baseOptions = PCRE2_UTF | PCRE2_UCP | PCRE2_NEVER_BACKSLASH_C;
// PCRE2 counts afresh at every starting position. A sensible pattern on spoken text takes a
// few hundred steps there; a backtracking runaway stops within milliseconds.
constexpr std::uint32_t matchLimit = 100'000;
constexpr std::uint32_t depthLimit = 100'000;

PCRE2_SPTR codeUnits(std::string_view text) {
    return reinterpret_cast<PCRE2_SPTR>(text.data());
}

struct CompileFailure {
    int code;
    PCRE2_SIZE offset;
};

pcre2_code* compile(std::string_view pattern, std::uint32_t options, CompileFailure& failure) {
    return pcre2_compile(codeUnits(pattern), pattern.size(), options, &failure.code,
                         &failure.offset, nullptr);
}

} // namespace

std::string RegularExpression::errorMessage(int code) {
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0)
        return "PCRE2 error " + std::to_string(code);
    return reinterpret_cast<const char*>(buffer);
}

RegularExpression::RegularExpression(std::string_view pattern, std::uint32_t extraOptions, TooLarge)
    : matchContext_(pcre2_match_context_create(nullptr)) {
    CompileFailure failure{};
    code_.reset(compile(pattern, baseOptions | extraOptions, failure));
    if (!code_) {
        if (failure.code == PCRE2_ERROR_PATTERN_TOO_LARGE)
            return;
        throw SpeechError(errorMessage(failure.code) + " at offset " +
                          std::to_string(failure.offset));
    }
    if (!matchContext_)
        throw SpeechError("out of memory for a regular expression");
    pcre2_set_match_limit(matchContext_.get(), matchLimit);
    pcre2_set_depth_limit(matchContext_.get(), depthLimit);
}

RegularExpression::RegularExpression(std::string_view pattern, std::uint32_t extraOptions)
    : RegularExpression(pattern, extraOptions, TooLarge{}) {
    if (!code_)
        throw SpeechError(errorMessage(PCRE2_ERROR_PATTERN_TOO_LARGE));
}

std::optional<RegularExpression> RegularExpression::unlessTooLarge(std::string_view pattern,
                                                                   std::uint32_t extraOptions) {
    RegularExpression expression(pattern, extraOptions, TooLarge{});
    if (!expression.code_)
        return std::nullopt;
    return expression;
}

RegularExpression::MatchData RegularExpression::newMatchData() const {
    MatchData data(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    if (!data)
        throw SpeechError("out of memory for a regular expression's match");
    return data;
}

std::optional<RegularExpression::Match>
RegularExpression::find(std::string_view subject, std::size_t offset, bool subjectChecked) const {
    const MatchData data = newMatchData();
    const int result =
        pcre2_match(code_.get(), codeUnits(subject), subject.size(), offset,
                    subjectChecked ? PCRE2_NO_UTF_CHECK : 0, data.get(), matchContext_.get());
    if (result == PCRE2_ERROR_NOMATCH)
        return std::nullopt;
    if (result < 0)
        throw SpeechError(errorMessage(result));
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    const PCRE2_SPTR mark = pcre2_get_mark(data.get());
    return Match{ovector[0], ovector[1],
                 mark ? std::string(reinterpret_cast<const char*>(mark)) : std::string()};
}

std::optional<std::string> RegularExpression::replaceAll(std::string_view subject,
                                                         std::string_view replacement,
                                                         std::size_t maximumLength) const {
    constexpr std::uint32_t options =
        PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_UNSET_EMPTY | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH;
    // One byte more than the result, for PCRE2's terminating zero.
    std::string output(std::min(subject.size() + subject.size() / 4 + 64, maximumLength + 1), '\0');
    for (;;) {
        PCRE2_SIZE length = output.size();
        const int result =
            pcre2_substitute(code_.get(), codeUnits(subject), subject.size(), 0, options, nullptr,
                             matchContext_.get(), codeUnits(replacement), replacement.size(),
                             reinterpret_cast<PCRE2_UCHAR*>(output.data()), &length);
        if (result >= 0) {
            output.resize(length);
            return output;
        }
        // With OVERFLOW_LENGTH, length is then what the output needs, its terminating zero too.
        if (result != PCRE2_ERROR_NOMEMORY || length <= output.size())
            throw SpeechError(errorMessage(result));
        if (length > maximumLength + 1)
            return std::nullopt;
        output.resize(length);
    }
}

std::string RegularExpression::probePattern() const {
    std::uint32_t groups = 0;
    std::uint32_t nameCount = 0;
    std::uint32_t entrySize = 0;
    PCRE2_SPTR table = nullptr;
    pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
    pcre2_pattern_info(code_.get(), PCRE2_INFO_NAMECOUNT, &nameCount);
    pcre2_pattern_info(code_.get(), PCRE2_INFO_NAMEENTRYSIZE, &entrySize);
    pcre2_pattern_info(code_.get(), PCRE2_INFO_NAMETABLE, &table);
    // The groups as (?<name>) or (), numbered as in this pattern; every one matches nothing.
    std::vector<std::string> names(groups + 1);
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        const PCRE2_SPTR entry = table + i * entrySize;
        const std::uint32_t number = std::uint32_t{entry[0]} << 8 | entry[1];
        if (number <= groups && names[number].empty())
            names[number] = reinterpret_cast<const char*>(entry + 2);
    }
    std::string probe;
    for (std::uint32_t number = 1; number <= groups; ++number)
        probe += names[number].empty() ? "()" : "(?<" + names[number] + ">)";
    return probe;
}

void RegularExpression::checkReplacement(std::string_view replacement) const {
    // A pattern with the same groups that matches the empty subject lets PCRE2 itself read the
    // replacement, as it would at the first match.
    const RegularExpression probe(probePattern(), PCRE2_DUPNAMES);
    char output[1];
    PCRE2_SIZE length = sizeof output;
    const int result =
        pcre2_substitute(probe.code_.get(), codeUnits(""), 0, 0,
                         PCRE2_SUBSTITUTE_UNSET_EMPTY | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH, nullptr,
                         nullptr, codeUnits(replacement), replacement.size(),
                         reinterpret_cast<PCRE2_UCHAR*>(output), &length);
    if (result < 0 && result != PCRE2_ERROR_NOMEMORY)
        throw SpeechError(errorMessage(result));
}

void RegularExpression::checkUtf8(std::string_view text) {
    static_cast<void>(RegularExpression("").find(text));
}

} // namespace kestrova::speech
