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
    // Whether the speaker's incise ("dit-il") stands inside the quotation with no mark of its
    // own, as in French.
    bool unmarkedIncises = false;
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
    QuoteConventions{
        .language = "fr", .pairs = guillemetPairs, .dashDialogue = true, .unmarkedIncises = true},
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

// Words English writes with an apostrophe in front of them: a mark before one opens nothing.
constexpr std::array<std::string_view, 10> elidedWords{"tis",   "twas", "twere", "twill", "twould",
                                                       "twixt", "em",   "n",     "neath", "gainst"};

bool isAsciiLetter(int character) {
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
}

bool isApostropheLike(int character) {
    return character == '\'' || character == 0x2019;
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
        return byte == 0 ? -1 : codePointAt(text_.substr(startBefore(byte))).value;
    }
    // Where the character before byte begins; byte > 0.
    std::size_t startBefore(std::size_t byte) const {
        std::size_t start = byte - 1;
        while (start > 0 && isContinuationByte(text_[start]))
            --start;
        return start;
    }
    std::size_t size() const { return text_.size(); }
    std::string_view slice(std::size_t begin, std::size_t end) const {
        return text_.substr(begin, end - begin);
    }

    // Whether a mark at byte may open a single quote, or close one.
    bool mayOpenSingle(std::size_t byte) const {
        const int previous = before(byte);
        const bool opensAfter = previous < 0 || isWhiteSpace(previous) ||
                                (isPunctuation(previous) && !isSentenceTerminal(previous));
        return opensAfter && isLetter(at(after(byte))) && !elidedAfter(byte);
    }
    bool mayCloseSingle(std::size_t byte) const {
        const int next = at(after(byte));
        const int previous = before(byte);
        return previous >= 0 && !isWhiteSpace(previous) &&
               (next < 0 || isWhiteSpace(next) || isPunctuation(next)) && !endsElidedN(byte);
    }

    // Where the quotation opened by pair's mark at byte closes: past its closing mark, the
    // paragraph's end for a double mark left open, none for a single one left open.
    std::optional<std::size_t> closeOf(const QuotePair& pair, std::size_t byte) const {
        if (pair.apostropheLike)
            return singleCloseOf(pair, byte);
        for (std::size_t at = after(byte); at < text_.size(); at = after(at))
            if (static_cast<char32_t>(this->at(at)) == pair.close)
                return after(at);
        return text_.size();
    }

    static bool isLetter(int character) {
        return character > 0 && !isWhiteSpace(character) && !isPunctuation(character) &&
               !(character >= '0' && character <= '9');
    }

private:
    // A single quote closes before the next mark that could open one. A mark after an "s"
    // and before a space may be a plural's apostrophe (the Smiths' son): it closes only where
    // no other mark does.
    std::optional<std::size_t> singleCloseOf(const QuotePair& pair, std::size_t byte) const {
        std::optional<std::size_t> possessive;
        for (std::size_t at = after(byte); at < text_.size(); at = after(at)) {
            const auto character = static_cast<char32_t>(this->at(at));
            if (character == pair.open && mayOpenSingle(at))
                break;
            if (character != pair.close || !mayCloseSingle(at))
                continue;
            const int previous = before(at);
            if ((previous != 's' && previous != 'S') || !isWhiteSpace(this->at(after(at))))
                return after(at);
            possessive = possessive.value_or(after(at));
        }
        return possessive;
    }

    // Whether the letters after the mark at byte are a word English elides ('tis).
    bool elidedAfter(std::size_t byte) const {
        const std::size_t begin = after(byte);
        std::size_t end = begin;
        while (isAsciiLetter(at(end)))
            ++end;
        const std::string_view word = text_.substr(begin, end - begin);
        return !isLetter(at(end)) &&
               std::any_of(elidedWords.begin(), elidedWords.end(), [&](std::string_view elided) {
                   return equalsIgnoringAsciiCase(word, elided);
               });
    }

    // Whether the mark at byte ends the "n" of rock 'n' roll (or rock n' roll).
    bool endsElidedN(std::size_t byte) const {
        if (byte == 0 || (text_[byte - 1] != 'n' && text_[byte - 1] != 'N'))
            return false;
        std::size_t start = byte - 1;
        if (isApostropheLike(before(start)))
            start = startBefore(start);
        return start == 0 || isWhiteSpace(before(start));
    }

    std::string_view text_;
};

std::size_t firstNonSpace(const MarkWalk& walk) {
    std::size_t at = 0;
    while (at < walk.size() && isWhiteSpace(walk.at(at)))
        at = walk.after(at);
    return at;
}

// A dash spaced on both sides after the speech's own punctuation, as Russian writes the
// narration's start ("– Да, – сказал он."); a spaced dash after a word stays inside the speech.
bool isSpacedDashAfterPunctuation(const MarkWalk& walk, std::size_t at) {
    if (!isWhiteSpace(walk.before(at)) || !isWhiteSpace(walk.at(walk.after(at))))
        return false;
    std::size_t end = at;
    while (end > 0 && isWhiteSpace(walk.before(end)))
        end = walk.startBefore(end);
    return end > 0 && isPunctuation(walk.before(end));
}

// A paragraph that opens with a dash: speech from the dash, narration from a dash after a
// space (before a letter, or spaced after punctuation) to a dash before a space or
// punctuation (the punctuation there goes with it).
std::vector<DialogueSpan> dashSpans(const MarkWalk& walk, std::size_t open) {
    std::vector<DialogueSpan> spans{{.begin = open, .end = walk.size()}};
    bool speaking = true;
    for (std::size_t at = walk.after(open); at < walk.size(); at = walk.after(at)) {
        const int character = walk.at(at);
        if (!isDash(character) && character != 0x2013)
            continue;
        const int next = walk.at(walk.after(at));
        const bool narrationStarts =
            isWhiteSpace(walk.before(at)) &&
            (MarkWalk::isLetter(next) || isSpacedDashAfterPunctuation(walk, at));
        if (speaking && narrationStarts) {
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

// French verbs of saying that stand before a named subject in an incise ("dit Marie"); before
// a hyphenated subject pronoun ("sourit-elle") any verb makes one.
constexpr std::array<std::string_view, 95> frenchSayingVerbs{
    "dit",           "dis",          "disait",      "r\u00E9pondit",  "r\u00E9pondis",
    "demanda",       "demandai",     "reprit",      "repris",         "ajouta",
    "r\u00E9pliqua", "murmura",      "cria",        "\u00E9cria",     "exclama",
    "souffla",       "lan\u00E7a",   "fit",         "continua",       "poursuivit",
    "expliqua",      "d\u00E9clara", "insista",     "chuchota",       "hurla",
    "soupira",       "interrompit",  "protesta",    "observa",        "remarqua",
    "r\u00E9torqua", "conclut",      "affirma",     "annon\u00E7a",   "avoua",
    "objecta",       "pr\u00E9cisa", "questionna",  "grogna",         "gronda",
    "bredouilla",    "balbutia",     "b\u00E9gaya", "marmonna",       "grommela",
    "maugr\u00E9a",  "plaisanta",    "tonna",       "g\u00E9mit",     "sanglota",
    "ricana",        "haleta",       "coupa",       "trancha",        "r\u00E9p\u00E9ta",
    "rappela",       "sugg\u00E9ra", "proposa",     "ordonna",        "supplia",
    "implora",       "pesta",        "jura",        "rugit",          "glapit",
    "siffla",        "corrigea",     "approuva",    "acquies\u00E7a", "rench\u00E9rit",
    "admit",         "conc\u00E9da", "l\u00E2cha",  "jeta",           "commen\u00E7a",
    "encha\u00EEna", "nota",         "railla",      "hasarda",        "risqua",
    "avan\u00E7a",   "insinua",      "ironisa",     "confia",         "r\u00E9v\u00E9la",
    "raconta",       "interrogea",   "songea",      "pensa",          "r\u00E9suma",
    "appela",        "rassura",      "encouragea",  "mena\u00E7a",    "\u00E9tonna"};
constexpr std::array<std::string_view, 6> frenchSubjectPronouns{"il",    "elle", "ils",
                                                                "elles", "on",   "je"};

template <std::size_t size>
bool listed(const std::array<std::string_view, size>& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

// Where the word that begins at byte ends: letters, hyphens and apostrophes.
std::size_t wordEnd(const MarkWalk& walk, std::size_t byte) {
    std::size_t end = byte;
    while (end < walk.size() && (MarkWalk::isLetter(walk.at(end)) || walk.at(end) == '-' ||
                                 isApostropheLike(walk.at(end))))
        end = walk.after(end);
    return end;
}

// Whether word, with the character after it, opens an incise: "dit-il", "demanda-t-elle",
// "s'\u00E9cria Paul".
bool opensFrenchIncise(std::string_view word, int next) {
    if (const std::size_t hyphen = word.rfind('-'); hyphen != std::string_view::npos)
        return listed(frenchSubjectPronouns, word.substr(hyphen + 1));
    for (const std::string_view elided : {"s'", "s\u2019", "m'", "m\u2019"})
        if (word.starts_with(elided))
            word.remove_prefix(elided.size());
    return isWhiteSpace(next) && listed(frenchSayingVerbs, word);
}

// Whether the word at byte follows a comma or a mark that ends what is said, and a space,
// within the speech that began at begin.
bool followsSpokenMark(const MarkWalk& walk, std::size_t byte, std::size_t begin) {
    std::size_t at = byte;
    while (at > begin && isWhiteSpace(walk.before(at)))
        at = walk.startBefore(at);
    const int mark = at < byte && at > begin ? walk.before(at) : -1;
    return mark == ',' || mark == '!' || mark == '?' || mark == 0x2026;
}

// An incise: narration from its verb to end, the speech going on from resume (the end of the
// quotation when nothing more is said).
struct Incise {
    std::size_t end = 0;
    std::size_t resume = 0;
};

// The incise whose verb is at byte: to the comma after it, or to the end of its sentence;
// none where a question mark comes first, for that is a question put by inversion.
std::optional<Incise> inciseAt(const MarkWalk& walk, std::size_t byte, std::size_t spanEnd) {
    for (std::size_t at = byte; at < spanEnd; at = walk.after(at)) {
        const int character = walk.at(at);
        if (character == '?')
            return std::nullopt;
        if (character != ',' && character != ';' && character != '.' && character != '!' &&
            character != 0x2026)
            continue;
        Incise incise{.end = walk.after(at), .resume = walk.after(at)};
        while (incise.resume < spanEnd && isWhiteSpace(walk.at(incise.resume)))
            incise.resume = walk.after(incise.resume);
        std::size_t letter = incise.resume;
        while (letter < spanEnd && !MarkWalk::isLetter(walk.at(letter)))
            letter = walk.after(letter);
        if (letter == spanEnd)
            incise = {.end = spanEnd, .resume = spanEnd};
        return incise;
    }
    return Incise{.end = spanEnd, .resume = spanEnd};
}

// A span of French speech with its incises left to the narrator.
void appendWithoutIncises(const MarkWalk& walk, const DialogueSpan& span,
                          std::vector<DialogueSpan>& spans) {
    std::size_t speech = span.begin;
    for (std::size_t at = span.begin; at < span.end;) {
        const bool startsWord = MarkWalk::isLetter(walk.at(at)) && isWhiteSpace(walk.before(at));
        const std::size_t end = startsWord ? wordEnd(walk, at) : walk.after(at);
        std::optional<Incise> incise;
        if (startsWord && followsSpokenMark(walk, at, speech) &&
            opensFrenchIncise(walk.slice(at, end), walk.at(end)))
            incise = inciseAt(walk, at, span.end);
        if (!incise) {
            at = end;
            continue;
        }
        std::size_t spoken = at;
        while (spoken > speech && isWhiteSpace(walk.before(spoken)))
            spoken = walk.startBefore(spoken);
        spans.push_back({.begin = speech, .end = spoken});
        speech = incise->resume;
        at = speech;
    }
    if (speech < span.end)
        spans.push_back({.begin = speech, .end = span.end});
}

std::vector<DialogueSpan> quoteSpans(const QuoteConventions& marks, const MarkWalk& walk,
                                     std::size_t start) {
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

} // namespace

std::vector<DialogueSpan> dialogueSpans(std::string_view paragraph, std::string_view language) {
    const QuoteConventions& marks = conventionsFor(language);
    const MarkWalk walk(paragraph);
    const std::size_t start = firstNonSpace(walk);
    std::vector<DialogueSpan> spans =
        marks.dashDialogue && start < walk.size() && opensDashParagraph(walk, start)
            ? dashSpans(walk, start)
            : quoteSpans(marks, walk, start);
    if (!marks.unmarkedIncises)
        return spans;
    std::vector<DialogueSpan> spoken;
    for (const DialogueSpan& span : spans)
        appendWithoutIncises(walk, span, spoken);
    return spoken;
}

} // namespace kestrova::speech
