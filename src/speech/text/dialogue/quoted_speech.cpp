#include "speech/text/dialogue/quoted_speech.h"

#include "speech/ascii.h"
#include "speech/base/utf8.h"
#include "speech/text/script/unicode_breaks.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

namespace kestrova::speech {
namespace {

// An opening mark and the mark that closes it. An apostrophe-like mark opens only before a
// letter, after a space, the start or an opening mark, and closes only before a space,
// punctuation or the end; when it does not close within the paragraph it is no quote.
struct QuotePair {
    char32_t open;
    char32_t close;
    bool apostropheLike = false;
};

// The marks of a language, and whether a dash opening a paragraph begins a character's speech
// (the narration between later dashes read as narration).
struct QuoteConventions {
    std::string_view language; // first subtag; empty: every other language
    std::span<const QuotePair> pairs;
    bool dashDialogue = false;
};

constexpr std::array englishPairs{QuotePair{U'\u201C', U'\u201D'}, QuotePair{U'"', U'"'},
                                  QuotePair{U'\u2018', U'\u2019', true},
                                  QuotePair{U'\'', U'\'', true}};
constexpr std::array guillemetPairs{QuotePair{U'\u00AB', U'\u00BB'},
                                    QuotePair{U'\u201C', U'\u201D'}, QuotePair{U'"', U'"'}};
constexpr std::array russianPairs{QuotePair{U'\u00AB', U'\u00BB'}, QuotePair{U'\u201E', U'\u201C'},
                                  QuotePair{U'"', U'"'}};
constexpr std::array germanPairs{QuotePair{U'\u201E', U'\u201C'}, QuotePair{U'\u00BB', U'\u00AB'},
                                 QuotePair{U'"', U'"'}};
constexpr std::array polishPairs{QuotePair{U'\u201E', U'\u201D'}, QuotePair{U'\u00AB', U'\u00BB'},
                                 QuotePair{U'"', U'"'}};
constexpr std::array cornerPairs{QuotePair{U'\u300C', U'\u300D'}, QuotePair{U'\u300E', U'\u300F'},
                                 QuotePair{U'\u201C', U'\u201D'}};

constexpr std::array conventions{
    QuoteConventions{.language = "es", .pairs = guillemetPairs, .dashDialogue = true},
    QuoteConventions{.language = "pt", .pairs = guillemetPairs, .dashDialogue = true},
    QuoteConventions{.language = "ca", .pairs = guillemetPairs, .dashDialogue = true},
    QuoteConventions{.language = "fr", .pairs = guillemetPairs, .dashDialogue = true},
    QuoteConventions{.language = "it", .pairs = guillemetPairs, .dashDialogue = true},
    QuoteConventions{.language = "ru", .pairs = russianPairs, .dashDialogue = true},
    QuoteConventions{.language = "uk", .pairs = russianPairs, .dashDialogue = true},
    QuoteConventions{.language = "bg", .pairs = russianPairs, .dashDialogue = true},
    QuoteConventions{.language = "de", .pairs = germanPairs},
    QuoteConventions{.language = "pl", .pairs = polishPairs, .dashDialogue = true},
    QuoteConventions{.language = "ja", .pairs = cornerPairs},
    QuoteConventions{.language = "zh", .pairs = cornerPairs},
    QuoteConventions{.language = "", .pairs = englishPairs},
};

const QuoteConventions& conventionsFor(std::string_view language) {
    const std::string_view primary = language.substr(0, language.find_first_of("-_"));
    const auto found = std::find_if(conventions.begin(), conventions.end(), [&](const auto& row) {
        return equalsIgnoringAsciiCase(primary, row.language);
    });
    return found != conventions.end() ? *found : conventions.back();
}

bool isDash(int character) {
    return character == 0x2014 || character == 0x2015;
}

// A paragraph's text walked character by character, with what stands on either side.
class MarkWalk {
public:
    explicit MarkWalk(std::string_view text) : text_(text) {}

    int at(std::size_t byte) const {
        return byte < text_.size() ? codePointAt(text_.substr(byte)).value : -1;
    }
    std::size_t after(std::size_t byte) const {
        return byte + codePointAt(text_.substr(byte)).length;
    }
    int before(std::size_t byte) const {
        if (byte == 0)
            return -1;
        std::size_t start = byte - 1;
        while (start > 0 && isContinuationByte(text_[start]))
            --start;
        return codePointAt(text_.substr(start)).value;
    }
    std::size_t size() const { return text_.size(); }

    // Whether a mark at byte may open a single quote, or close one.
    bool mayOpenSingle(std::size_t byte) const {
        const int previous = before(byte);
        const bool opensAfter = previous < 0 || isWhiteSpace(previous) ||
                                (isPunctuation(previous) && !isSentenceTerminal(previous));
        return opensAfter && isLetter(at(after(byte)));
    }
    bool mayCloseSingle(std::size_t byte) const {
        const int next = at(after(byte));
        const int previous = before(byte);
        return previous >= 0 && !isWhiteSpace(previous) &&
               (next < 0 || isWhiteSpace(next) || isPunctuation(next));
    }

    // Where the quotation opened by pair's mark at byte closes: past its closing mark, the
    // paragraph's end for a double mark left open, none for a single one left open.
    std::optional<std::size_t> closeOf(const QuotePair& pair, std::size_t byte) const {
        for (std::size_t at = after(byte); at < text_.size(); at = after(at))
            if (static_cast<char32_t>(this->at(at)) == pair.close &&
                (!pair.apostropheLike || mayCloseSingle(at)))
                return after(at);
        if (pair.apostropheLike)
            return std::nullopt;
        return text_.size();
    }

    static bool isLetter(int character) {
        return character > 0 && !isWhiteSpace(character) && !isPunctuation(character) &&
               !(character >= '0' && character <= '9');
    }

private:
    std::string_view text_;
};

std::size_t firstNonSpace(const MarkWalk& walk) {
    std::size_t at = 0;
    while (at < walk.size() && isWhiteSpace(walk.at(at)))
        at = walk.after(at);
    return at;
}

// A paragraph that opens with a dash: speech from the dash, narration from a dash after a
// space to a dash before a space or punctuation (the punctuation there goes with it).
std::vector<DialogueSpan> dashSpans(const MarkWalk& walk, std::size_t open) {
    std::vector<DialogueSpan> spans{{.begin = open, .end = walk.size()}};
    bool speaking = true;
    for (std::size_t at = walk.after(open); at < walk.size(); at = walk.after(at)) {
        const int character = walk.at(at);
        if (!isDash(character) && character != 0x2013)
            continue;
        const int next = walk.at(walk.after(at));
        if (speaking && isWhiteSpace(walk.before(at)) && MarkWalk::isLetter(next)) {
            std::size_t end = at;
            while (end > spans.back().begin && isWhiteSpace(walk.before(end)))
                --end;
            spans.back().end = end;
            speaking = false;
        } else if (!speaking && (next < 0 || isWhiteSpace(next) || isPunctuation(next))) {
            std::size_t resume = walk.after(at);
            while (resume < walk.size() &&
                   (isPunctuation(walk.at(resume)) || isWhiteSpace(walk.at(resume))))
                resume = walk.after(resume);
            if (resume < walk.size())
                spans.push_back({.begin = resume, .end = walk.size()});
            speaking = resume < walk.size();
            at = resume < walk.size() ? resume : at;
        }
    }
    return spans;
}

bool opensDashParagraph(const MarkWalk& walk, std::size_t at) {
    const int character = walk.at(at);
    return isDash(character) || (character == 0x2013 && isWhiteSpace(walk.at(walk.after(at))));
}

} // namespace

std::vector<DialogueSpan> dialogueSpans(std::string_view paragraph, std::string_view language) {
    const QuoteConventions& marks = conventionsFor(language);
    const MarkWalk walk(paragraph);
    const std::size_t start = firstNonSpace(walk);
    if (marks.dashDialogue && start < walk.size() && opensDashParagraph(walk, start))
        return dashSpans(walk, start);
    std::vector<DialogueSpan> spans;
    for (std::size_t at = start; at < walk.size();) {
        const int character = walk.at(at);
        const auto pair = std::find_if(marks.pairs.begin(), marks.pairs.end(), [&](const auto& p) {
            return static_cast<char32_t>(character) == p.open &&
                   (!p.apostropheLike || walk.mayOpenSingle(at));
        });
        const std::optional<std::size_t> end =
            pair != marks.pairs.end() ? walk.closeOf(*pair, at) : std::nullopt;
        if (!end) {
            at = walk.after(at);
            continue;
        }
        spans.push_back({.begin = at, .end = *end});
        at = *end;
    }
    return spans;
}

} // namespace kestrova::speech
