#include "speech/conversion/reading/plain_text_reading.h"

#include "speech/base/clean_text.h"
#include "speech/base/utf8.h"
#include "speech/text/readers/plain/scene_break_lines.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "speech/text/script/text_measures.h"

#include <string>

namespace kestrova::speech {
namespace {

// Keeps the characters [first, first + count) of a text that arrives in pieces.
class CharacterWindow {
public:
    CharacterWindow(std::uint64_t first, std::optional<std::uint64_t> count)
        : first_(first), end_(count ? first + *count : UINT64_MAX) {}

    std::string_view take(std::string_view piece) {
        std::size_t begin = std::string_view::npos;
        std::size_t end = piece.size();
        for (std::size_t i = 0; i < piece.size(); ++i) {
            if (isContinuationByte(piece[i]))
                continue;
            if (position_ >= end_) {
                end = i;
                break;
            }
            if (begin == std::string_view::npos && position_ >= first_)
                begin = i;
            ++position_;
        }
        return begin == std::string_view::npos ? piece.substr(piece.size())
                                               : piece.substr(begin, end - begin);
    }
    bool done() const { return position_ >= end_; }

private:
    std::uint64_t first_;
    std::uint64_t end_;
    std::uint64_t position_ = 0;
};

} // namespace

SentenceLedger::SentenceLedger(const ConversionRequest& request, const TextFileReader& reader,
                               SpeechTimings& timings)
    : timings_(timings), offsets_(reader.encoding(), reader.markLength()),
      selection_(request.chapters.selection) {
    if (request.chapters.pattern || request.chapters.split)
        headings_.emplace(request.chapters.pattern.value_or(std::string(defaultChapterPattern)));
}

// The chapter the chunk belongs to: a heading begins the next one; the text before the first
// heading is chapter 0.
void SentenceLedger::followChapter(const TextChunk& chunk) {
    if (!headings_)
        return;
    const HeadingFinder::Heading* heading = headings_->headingAt(chunk.startByte);
    if (heading && heading != heading_) {
        heading_ = heading;
        chapter_ = ChapterTiming{.number = ++headingsSeen_, .title = cleanText(heading->title)};
    } else if (!chapter_) {
        chapter_ = ChapterTiming{.number = 0, .title = {}};
    }
}

std::optional<TextChunk> SentenceLedger::next(std::size_t& sentence) {
    while (!waiting_.empty() &&
           !(headings_ && waiting_.front().startByte >= headings_->resolvedEnd())) {
        TextChunk chunk = std::move(waiting_.front());
        waiting_.pop_front();
        followChapter(chunk);
        // Counted whether spoken or not: the numbers are the book's.
        const unsigned paragraph = paragraphs_.next(chunk.before == Boundary::Paragraph);
        const std::uint64_t startByte = offsets_.offsetOf(chunk.startByte);
        const std::uint64_t endByte = offsets_.offsetOf(chunk.endByte);
        if (chapter_ && !selection_.contains(chapter_->number))
            continue;
        if (chapter_ &&
            (timings_.chapters.empty() || timings_.chapters.back().number != chapter_->number))
            timings_.chapters.push_back(*chapter_);
        SentenceTiming timing;
        timing.text = chunk.text;
        timing.startByte = startByte;
        timing.endByte = endByte;
        timing.paragraph = paragraph;
        timing.chapter = chapter_ ? chapter_->number : 0;
        sentence = timings_.sentences.size();
        timings_.sentences.push_back(std::move(timing));
        return chunk;
    }
    return std::nullopt;
}

void chunkText(TextFileReader& reader, const ConversionRequest& request, TextChunker& chunker,
               SentenceLedger* ledger, const std::function<void()>& ready) {
    CharacterWindow window(request.input.firstCharacter, request.input.characterCount);
    SceneBreakLines breaks; // blanked to the length they had: the places stay the text's
    std::string decoded;
    while (!window.done() && reader.read(decoded)) {
        const std::string_view kept = window.take(decoded);
        if (ledger)
            ledger->read(std::string_view(decoded).substr(
                             0, static_cast<std::size_t>(kept.data() - decoded.data())),
                         kept);
        const std::string passed = breaks.push(kept);
        // Small slices keep the chunker's own buffer short.
        constexpr std::size_t slice = 4096;
        for (std::size_t at = 0; at < passed.size(); at += slice) {
            chunker.push(std::string_view(passed).substr(at, slice));
            ready();
        }
    }
    chunker.push(breaks.finish());
    chunker.finish();
    if (ledger)
        ledger->finish();
    ready();
}

} // namespace kestrova::speech
