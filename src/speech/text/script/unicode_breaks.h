#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class BreakIterator;
U_NAMESPACE_END

namespace kestrova::speech {

// Unicode's sentence, line and character boundaries (ICU's break iterators) in the
// conventions of a language, over UTF-8 text addressed by byte offsets. Each iterator is
// made when first asked for: text that never needs one costs nothing.
class UnicodeBreaks {
public:
    // language: a voice's language code ("en-us", "cmn", "hi"); empty or unknown: Unicode's
    // rules without a language's own.
    explicit UnicodeBreaks(std::string_view language);
    ~UnicodeBreaks();
    UnicodeBreaks(const UnicodeBreaks&) = delete;
    UnicodeBreaks& operator=(const UnicodeBreaks&) = delete;

    // The first sentence boundary in text after byte from (the end of text counts as one).
    std::size_t sentenceBoundaryAfter(std::string_view text, std::size_t from);
    // The last line-break opportunity, or boundary between user-perceived characters, at or
    // before byte at and after the start of text; 0 if there is none.
    std::size_t lineBreakBefore(std::string_view text, std::size_t at);
    std::size_t characterBoundaryBefore(std::string_view text, std::size_t at);

private:
    enum class Kind { Sentence, Line, Character };
    icu::BreakIterator& iterator(Kind kind, std::string_view text);
    std::size_t boundaryBefore(Kind kind, std::string_view text, std::size_t at);

    std::string locale_;
    std::unique_ptr<icu::BreakIterator> iterators_[3];
};

// Unicode's sentence-break classes: a mark that ends a sentence (. ! ? 。 । ؟ and the like),
// and a closing quote or bracket that may follow one.
bool isSentenceTerminal(int codePoint);
bool isSentenceCloser(int codePoint);
// A character that settles whether a sentence ends at the marks before it (and the closing
// marks and spaces after them): a letter, a line end, another mark, a comma and the like.
bool settlesSentenceEnd(int codePoint);
// Punctuation (quotes, brackets, dashes and marks alike), which a voice reads as the end or
// start of the words beside it, never as words of its own; and white space, the no-break
// space too.
bool isPunctuation(int codePoint);
bool isWhiteSpace(int codePoint);
// Whether text ends, before any closing quotes or brackets, at a mark that parts two clauses
// of a sentence (a comma, semicolon, colon or dash, of any script), where a voice pauses.
bool endsAtClauseMark(std::string_view text);
// A letter of a script written without spaces between words (Chinese, Japanese, Thai, Lao,
// Khmer, Myanmar): lines break between its letters.
bool isWrittenWithoutSpaces(int codePoint);

} // namespace kestrova::speech
