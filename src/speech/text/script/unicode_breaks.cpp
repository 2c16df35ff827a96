#include "unicode_breaks.h"

#include "speech/base/utf8.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <cstdint>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utext.h>

namespace kestrova::speech {
namespace {

std::string icuLocaleOf(std::string_view language) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(std::string(language), status);
    if (U_SUCCESS(status))
        locale.canonicalize(status); // "cmn" is ICU's "zh"
    return U_SUCCESS(status) && !locale.isBogus() ? locale.getName() : "";
}

} // namespace

UnicodeBreaks::UnicodeBreaks(std::string_view language) : locale_(icuLocaleOf(language)) {}

UnicodeBreaks::~UnicodeBreaks() = default;

icu::BreakIterator& UnicodeBreaks::iterator(Kind kind, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator>& made = iterators_[static_cast<int>(kind)];
    if (!made) {
        const icu::Locale locale(locale_.c_str());
        made.reset(
            kind == Kind::Sentence ? icu::BreakIterator::createSentenceInstance(locale, status)
            : kind == Kind::Line   ? icu::BreakIterator::createLineInstance(locale, status)
                                   : icu::BreakIterator::createCharacterInstance(locale, status));
        if (U_FAILURE(status) || !made) {
            made.reset();
            throw SpeechError(std::string("ICU has no text boundary rules: ") +
                              u_errorName(status));
        }
    }
    // The iterator keeps a shallow copy of the UText: text itself must outlive its use.
    icu::LocalUTextPointer utf8(utext_openUTF8(nullptr, text.empty() ? "" : text.data(),
                                               static_cast<std::int64_t>(text.size()), &status));
    made->setText(utf8.getAlias(), status);
    if (U_FAILURE(status))
        throw SpeechError(std::string("ICU could not take the text: ") + u_errorName(status));
    return *made;
}

std::size_t UnicodeBreaks::sentenceBoundaryAfter(std::string_view text, std::size_t from) {
    const std::int32_t boundary =
        iterator(Kind::Sentence, text).following(static_cast<std::int32_t>(from));
    return boundary == icu::BreakIterator::DONE ? text.size() : static_cast<std::size_t>(boundary);
}

std::size_t UnicodeBreaks::boundaryBefore(Kind kind, std::string_view text, std::size_t at) {
    // ICU moves an offset inside a character back to its start before it looks for the
    // boundary before: it would miss the one at that start.
    at = characterCut(text, at);
    icu::BreakIterator& breaks = iterator(kind, text);
    if (breaks.isBoundary(static_cast<std::int32_t>(at)))
        return at;
    const std::int32_t boundary = breaks.preceding(static_cast<std::int32_t>(at));
    return boundary == icu::BreakIterator::DONE ? 0 : static_cast<std::size_t>(boundary);
}

std::size_t UnicodeBreaks::lineBreakBefore(std::string_view text, std::size_t at) {
    return boundaryBefore(Kind::Line, text, at);
}

std::size_t UnicodeBreaks::characterBoundaryBefore(std::string_view text, std::size_t at) {
    return boundaryBefore(Kind::Character, text, at);
}

bool isSentenceTerminal(int codePoint) {
    const int kind = u_getIntPropertyValue(codePoint, UCHAR_SENTENCE_BREAK);
    return codePoint >= 0 && (kind == U_SB_STERM || kind == U_SB_ATERM);
}

bool isSentenceCloser(int codePoint) {
    return codePoint >= 0 && u_getIntPropertyValue(codePoint, UCHAR_SENTENCE_BREAK) == U_SB_CLOSE;
}

bool settlesSentenceEnd(int codePoint) {
    switch (u_getIntPropertyValue(codePoint, UCHAR_SENTENCE_BREAK)) {
    case U_SB_OLETTER:
    case U_SB_UPPER:
    case U_SB_LOWER:
    case U_SB_SEP:
    case U_SB_CR:
    case U_SB_LF:
    case U_SB_STERM:
    case U_SB_ATERM:
    case U_SB_SCONTINUE:
        return true;
    default:
        return codePoint < 0;
    }
}

bool isPunctuation(int codePoint) {
    return codePoint >= 0 && u_ispunct(codePoint);
}

bool isWhiteSpace(int codePoint) {
    return codePoint >= 0 && u_isUWhiteSpace(codePoint);
}

namespace {

// Unicode's marks that go on a sentence (commas and colons of every script, dashes) and the
// semicolon; a hyphen joins two words rather than parting two clauses.
bool isClauseMark(int codePoint) {
    if (codePoint < 0 || codePoint == '-' || codePoint == 0x2010 || codePoint == 0x2011)
        return false;
    return codePoint == ';' || u_charType(codePoint) == U_DASH_PUNCTUATION ||
           u_getIntPropertyValue(codePoint, UCHAR_SENTENCE_BREAK) == U_SB_SCONTINUE;
}

} // namespace

bool endsAtClauseMark(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t start = end - 1;
        while (start > 0 && isContinuationByte(text[start]))
            --start;
        const int codePoint = codePointAt(text.substr(start, end - start)).value;
        if (!isSentenceCloser(codePoint) && !isWhiteSpace(codePoint))
            return isClauseMark(codePoint);
        end = start;
    }
    return false;
}

bool isWrittenWithoutSpaces(int codePoint) {
    if (codePoint < 0)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(codePoint, &status);
    return U_SUCCESS(status) && uscript_breaksBetweenLetters(script);
}

} // namespace kestrova::speech
