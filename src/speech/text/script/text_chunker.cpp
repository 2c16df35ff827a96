#include "text_chunker.h"

#include "speech/base/utf8.h"

#include <algorithm>
#include <utility>

namespace kestrova::speech {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\n';
}

bool isSentenceMark(char c) {
    return c == '.' || c == '!' || c == '?' || c == ';' || c == ':';
}

// Closing quotes and brackets that may follow an ASCII sentence mark (after a mark of another
// script, Unicode's closing marks count too).
bool isCloser(char c) {
    return c == '"' || c == '\'' || c == ')' || c == ']';
}

bool hasOnlyAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

constexpr std::string_view noBreakSpace = "\xC2\xA0";

// Bytes past the limit that Unicode's line rules read to tell where the text may break
// before it (a word of Thai is known by the text around it).
constexpr std::size_t lineContextBytes = 64;

} // namespace

std::string singleSpaced(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    int lineBreaks = 0;
    bool space = false;
    for (char c : text) {
        if (isSpace(c)) {
            space = !out.empty();
            lineBreaks += c == '\n';
            continue;
        }
        if (space)
            out.append(lineBreaks >= 2 ? "\n\n" : " ");
        space = false;
        lineBreaks = 0;
        out.push_back(c);
    }
    return out;
}

TextChunker::TextChunker(std::size_t targetBytes, std::size_t limitBytes, std::string language)
    : targetBytes_(std::max<std::size_t>(targetBytes, 1)),
      limitBytes_(std::max(limitBytes, std::max<std::size_t>(targetBytes, 8))),
      language_(std::move(language)) {}

TextChunker::~TextChunker() = default;
TextChunker::TextChunker(TextChunker&&) noexcept = default;
TextChunker& TextChunker::operator=(TextChunker&&) noexcept = default;

void TextChunker::push(std::string_view text) {
    pending_.append(text);
}

void TextChunker::finish() {
    finished_ = true;
}

std::optional<TextChunk> TextChunker::next() {
    while (!ready_) {
        if (!scan())
            break;
    }
    if (!ready_ && finished_ && !pending_.empty())
        cut(pending_.size(), pending_.size(), Boundary::None);
    return std::exchange(ready_, std::nullopt);
}

// Looks for the next cut; true if it made one (it may still have been empty).
bool TextChunker::scan() {
    // A run of marks may carry the scan one byte past the limit at the very end of the
    // text: the limit still cuts there.
    while (scanned_ < pending_.size() || scanned_ > limitBytes_) {
        if (scanned_ >= limitBytes_) {
            if (sentenceEnd_ == 0 && limitCutWaits())
                return false;
            const std::size_t end = sentenceEnd_ > 0 ? sentenceEnd_ : limitCut();
            cut(end, end, sentenceEnd_ > 0 ? sentenceEndKind_ : Boundary::None);
            return true;
        }
        const Verdict verdict = verdictAtScan();
        if (verdict.kind == Verdict::Kind::Wait)
            return false;
        if (verdict.kind == Verdict::Kind::End && verdict.end >= targetBytes_) {
            cut(verdict.end, verdict.resume, verdict.at);
            return true;
        }
        if (verdict.kind == Verdict::Kind::End) {
            sentenceEnd_ = verdict.end;
            sentenceEndKind_ = verdict.at;
        }
        scanned_ = verdict.next;
    }
    return false;
}

// What the byte the scan has come to begins. Every look-ahead stops at the limit, so that no
// run of spaces or marks is scanned more than once, however it arrives.
TextChunker::Verdict TextChunker::verdictAtScan() {
    const char c = pending_[scanned_];
    if (c == '\n')
        return lineBreakVerdict();
    if (isSentenceMark(c))
        return asciiMarkVerdict();
    if (static_cast<unsigned char>(c) >= 0xC0) // the lead byte of a character outside ASCII
        return otherCharacterVerdict();
    return {.kind = Verdict::Kind::NoEnd, .next = scanned_ + 1};
}

// A paragraph ends at a line break followed by spaces and another line break.
TextChunker::Verdict TextChunker::lineBreakVerdict() const {
    const std::size_t size = pending_.size();
    std::size_t after = scanned_ + 1;
    while (after < size && after <= limitBytes_ && pending_[after] == ' ')
        ++after;
    if (after == size && !finished_ && after <= limitBytes_)
        return {.kind = Verdict::Kind::Wait}; // the next piece decides
    if (after < size && after <= limitBytes_ && pending_[after] == '\n')
        return {.kind = Verdict::Kind::End,
                .next = after + 1,
                .end = scanned_,
                .resume = after + 1,
                .at = Boundary::Paragraph};
    return {.kind = Verdict::Kind::NoEnd, .next = scanned_ + 1};
}

// An ASCII mark ends a sentence where white space follows it and its closers; where
// Chinese, Japanese or Thai follows directly, Unicode's rules decide.
TextChunker::Verdict TextChunker::asciiMarkVerdict() {
    const std::size_t size = pending_.size();
    std::size_t after = scanned_ + 1;
    while (after < size && after <= limitBytes_ &&
           (isCloser(pending_[after]) || isSentenceMark(pending_[after])))
        ++after;
    if (after == size && !finished_ && after <= limitBytes_)
        return {.kind = Verdict::Kind::Wait};
    // A run of marks that would carry the chunk past its limit is no sentence end: the
    // limit cuts before it.
    if (after <= limitBytes_ && (after == size || isSpace(pending_[after])))
        return {.kind = Verdict::Kind::End,
                .next = after,
                .end = after,
                .resume = after,
                .at = Boundary::Sentence};
    if (after < size && after <= limitBytes_ && pending_.compare(after, 2, noBreakSpace) == 0)
        return noBreakSpaceVerdict(after);
    if (after < size && after <= limitBytes_ &&
        static_cast<unsigned char>(pending_[after]) >= 0xC0) {
        const std::optional<bool> unspaced = beforeUnspacedScript(after);
        if (!unspaced)
            return {.kind = Verdict::Kind::Wait};
        if (*unspaced)
            return unicodeMarkVerdict(scanned_);
    }
    return {.kind = Verdict::Kind::NoEnd, .next = after};
}

// No-break spaces after a mark bind it to the word after them ("Mr.\u00A0Bennet" is one
// sentence, in every reader); where ordinary white space or the text's end follows them, the
// sentence ends at the mark, and the next one begins after them.
TextChunker::Verdict TextChunker::noBreakSpaceVerdict(std::size_t after) const {
    const std::size_t size = pending_.size();
    std::size_t spaces = after;
    while (spaces < size && spaces <= limitBytes_ &&
           pending_.compare(spaces, noBreakSpace.size(), noBreakSpace) == 0)
        spaces += noBreakSpace.size();
    if (spaces + noBreakSpace.size() > size && !finished_ && spaces <= limitBytes_)
        return {.kind = Verdict::Kind::Wait}; // the next piece decides
    if (spaces > limitBytes_ || (spaces < size && !isSpace(pending_[spaces])))
        return {.kind = Verdict::Kind::NoEnd, .next = after};
    return {.kind = Verdict::Kind::End,
            .next = spaces,
            .end = after,
            .resume = spaces,
            .at = Boundary::Sentence};
}

// A character outside ASCII: a mark of another script is left to Unicode's rules.
TextChunker::Verdict TextChunker::otherCharacterVerdict() {
    const std::optional<CodePoint> character = characterAt(scanned_);
    if (!character)
        return {.kind = Verdict::Kind::Wait};
    if (isSentenceTerminal(character->value))
        return unicodeMarkVerdict(scanned_);
    return {.kind = Verdict::Kind::NoEnd, .next = scanned_ + character->length};
}

// Whether the character at, after any closing quotes or brackets, is of a script written
// without spaces; none if more text must come to tell.
std::optional<bool> TextChunker::beforeUnspacedScript(std::size_t at) const {
    while (at <= limitBytes_) {
        if (at == pending_.size())
            return finished_ ? std::optional<bool>(false) : std::nullopt;
        const std::optional<CodePoint> character = characterAt(at);
        if (!character)
            return std::nullopt;
        if (!isSentenceCloser(character->value))
            return isWrittenWithoutSpaces(character->value);
        at += character->length;
    }
    return false;
}

// The character at a byte; none while its bytes have not all come.
std::optional<CodePoint> TextChunker::characterAt(std::size_t at) const {
    const std::size_t length = announcedLength(pending_[at]);
    if (at + length > pending_.size() && !finished_)
        return std::nullopt;
    return codePointAt(std::string_view(pending_).substr(at, length));
}

// Unicode's sentence rules at the mark starting at byte mark. They read the mark, the marks
// and closers after it, the spaces, and on to the first letter or mark: only that settles
// an end after a full stop (". the" ends nothing).
TextChunker::Verdict TextChunker::unicodeMarkVerdict(std::size_t mark) {
    const std::size_t size = pending_.size();
    std::size_t after = mark;
    while (after < size && after <= limitBytes_) {
        const std::optional<CodePoint> character = characterAt(after);
        if (!character)
            return {.kind = Verdict::Kind::Wait};
        if (after > mark && !isSentenceTerminal(character->value) &&
            !isSentenceCloser(character->value))
            break;
        after += character->length;
    }
    std::size_t spacesEnd = after;
    while (spacesEnd < size && spacesEnd <= limitBytes_ && isSpace(pending_[spacesEnd]))
        ++spacesEnd;
    std::size_t look = spacesEnd;
    bool settled = false;
    while (!settled && look < size && look <= limitBytes_) {
        const std::optional<CodePoint> character = characterAt(look);
        if (!character)
            return {.kind = Verdict::Kind::Wait};
        look += character->length;
        settled = settlesSentenceEnd(character->value);
    }
    if (!settled && look == size && !finished_ && look <= limitBytes_)
        return {.kind = Verdict::Kind::Wait};
    if (after > limitBytes_)
        return {.kind = Verdict::Kind::NoEnd, .next = after};
    // One character before the mark too: the rules read it ("U.S" is no end).
    std::size_t context = mark;
    while (context > 0 && mark - context < 4 &&
           (context == mark || isContinuationByte(pending_[context])))
        --context;
    const std::size_t boundary =
        context + breaks().sentenceBoundaryAfter(
                      std::string_view(pending_).substr(context, look - context), mark - context);
    if (boundary > spacesEnd)
        return {.kind = Verdict::Kind::NoEnd, .next = after};
    std::size_t end = boundary;
    while (end > mark + 1 && isSpace(pending_[end - 1]))
        --end;
    return {.kind = Verdict::Kind::End,
            .next = after,
            .end = end,
            .resume = end,
            .at = Boundary::Sentence};
}

// Whether a cut at the limit must wait for more text: a run without spaces that is not
// ASCII is cut by Unicode's line rules, which read on past the limit.
bool TextChunker::limitCutWaits() const {
    const std::string_view head(pending_.data(), limitBytes_);
    const std::size_t space = head.find_last_of(" \n");
    return !finished_ && pending_.size() < limitBytes_ + lineContextBytes &&
           (space == std::string_view::npos || space == 0) && !hasOnlyAscii(head);
}

// Where to cut a chunk that reached the limit without a sentence end: at the last space;
// in a run without spaces, where a line may break (between two words of Chinese or Thai,
// after a hyphen), else at the last boundary between characters.
std::size_t TextChunker::limitCut() {
    const std::string_view head(pending_.data(), limitBytes_);
    const std::size_t space = head.find_last_of(" \n");
    if (space != std::string_view::npos && space > 0)
        return space;
    if (!hasOnlyAscii(head)) {
        const std::string_view context =
            std::string_view(pending_).substr(0, limitBytes_ + lineContextBytes);
        if (const std::size_t line = breaks().lineBreakBefore(context, limitBytes_); line > 0)
            return line;
        if (const std::size_t character = breaks().characterBoundaryBefore(context, limitBytes_);
            character > 0)
            return character;
    }
    return characterCut(pending_, limitBytes_, 1);
}

UnicodeBreaks& TextChunker::breaks() {
    if (!breaks_)
        breaks_ = std::make_unique<UnicodeBreaks>(language_);
    return *breaks_;
}

// at: the boundary at the cut, which separates the next chunk from this one.
void TextChunker::cut(std::size_t end, std::size_t resume, Boundary at) {
    const std::string_view piece(pending_.data(), end);
    characters_ += characterCount(std::string_view(pending_.data(), resume));
    // A sentence cut leaves the white space after it, and with it a paragraph end, to the
    // next piece.
    const std::size_t leading = std::min(piece.find_first_not_of(" \n"), piece.size());
    if (std::count(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(leading), '\n') >= 2)
        nextBefore_ = Boundary::Paragraph;
    std::string text = singleSpaced(piece);
    if (!text.empty()) {
        const std::size_t last = piece.find_last_not_of(" \n");
        ready_ = TextChunk{std::move(text), characters_, nextBefore_, consumedBytes_ + leading,
                           consumedBytes_ + last + 1};
        nextBefore_ = at;
    } else {
        nextBefore_ = std::max(nextBefore_, at);
    }
    consumedBytes_ += resume;
    spare_.assign(pending_, resume, std::string::npos);
    std::swap(pending_, spare_);
    scanned_ = 0;
    sentenceEnd_ = 0;
}

} // namespace kestrova::speech
