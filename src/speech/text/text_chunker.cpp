#include "text_chunker.h"

#include "speech/text/text_measures.h"

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

// Closing quotes and brackets that may follow a sentence mark: ASCII, or the UTF-8 bytes
// of ’ ” » ) ] (the multi-byte ones are matched by their lead bytes below).
bool isCloser(char c) {
    return c == '"' || c == '\'' || c == ')' || c == ']';
}

std::uint64_t countCharacters(std::string_view text) {
    return static_cast<std::uint64_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !isContinuationByte(c); }));
}

// Collapses every run of white space into one space, or into a blank line where the run
// holds a paragraph end: both engines pause longer there.
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

} // namespace

TextChunker::TextChunker(std::size_t targetBytes, std::size_t limitBytes)
    : targetBytes_(std::max<std::size_t>(targetBytes, 1)),
      limitBytes_(std::max(limitBytes, std::max<std::size_t>(targetBytes, 8))) {}

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
    const std::size_t size = pending_.size();
    // A run of marks may carry the scan one byte past the limit at the very end of the
    // text: the limit still cuts there.
    while (scanned_ < size || scanned_ > limitBytes_) {
        if (scanned_ >= limitBytes_) {
            const std::size_t end = sentenceEnd_ > 0 ? sentenceEnd_ : limitCut();
            cut(end, end, sentenceEnd_ > 0 ? sentenceEndKind_ : Boundary::None);
            return true;
        }
        const char c = pending_[scanned_];
        // Every look-ahead stops at the limit, so that no run of spaces or marks is
        // scanned more than once, however it arrives.
        if (c == '\n') {
            // A paragraph ends at a line break followed by spaces and another line break.
            std::size_t after = scanned_ + 1;
            while (after < size && after <= limitBytes_ && pending_[after] == ' ')
                ++after;
            if (after == size && !finished_ && after <= limitBytes_)
                return false; // wait: the next piece decides
            if (after < size && after <= limitBytes_ && pending_[after] == '\n') {
                if (scanned_ >= targetBytes_) {
                    cut(scanned_, after + 1, Boundary::Paragraph);
                    return true;
                }
                sentenceEnd_ = scanned_;
                sentenceEndKind_ = Boundary::Paragraph;
                scanned_ = after + 1;
                continue;
            }
        } else if (isSentenceMark(c)) {
            std::size_t after = scanned_ + 1;
            while (after < size && after <= limitBytes_ &&
                   (isCloser(pending_[after]) || isSentenceMark(pending_[after])))
                ++after;
            if (after == size && !finished_ && after <= limitBytes_)
                return false;
            // A run of marks that would carry the chunk past its limit is no sentence end:
            // the limit cuts before it.
            if (after <= limitBytes_ && (after == size || isSpace(pending_[after]))) {
                if (after >= targetBytes_) {
                    cut(after, after, Boundary::Sentence);
                    return true;
                }
                sentenceEnd_ = after;
                sentenceEndKind_ = Boundary::Sentence;
            }
            scanned_ = after;
            continue;
        }
        ++scanned_;
    }
    return false;
}

// Where to cut a chunk that reached the limit without a sentence end: at the last space,
// or, in a run without spaces, at the last character boundary.
std::size_t TextChunker::limitCut() const {
    const std::string_view head(pending_.data(), limitBytes_);
    const std::size_t space = head.find_last_of(" \n");
    if (space != std::string_view::npos && space > 0)
        return space;
    std::size_t end = limitBytes_;
    while (end > 1 && isContinuationByte(pending_[end]))
        --end;
    return end;
}

// at: the boundary at the cut, which separates the next chunk from this one.
void TextChunker::cut(std::size_t end, std::size_t resume, Boundary at) {
    const std::string_view piece(pending_.data(), end);
    characters_ += countCharacters(std::string_view(pending_.data(), resume));
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
