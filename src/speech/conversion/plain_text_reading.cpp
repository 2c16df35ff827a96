#include "speech/conversion/plain_text_reading.h"

#include "speech/base/utf8.h"
#include "speech/text/text_file_reader.h"
#include "speech/text/text_measures.h"

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
    : timings_(timings), offsets_(reader.encoding(), reader.markLength()) {
    if (request.chapterPattern || request.splitChapters)
        headings_.emplace(request.chapterPattern.value_or(std::string(defaultChapterPattern)));
}

std::optional<TextChunk> SentenceLedger::next(std::size_t& sentence) {
    if (waiting_.empty() || (headings_ && waiting_.front().startByte >= headings_->resolvedEnd()))
        return std::nullopt;
    TextChunk chunk = std::move(waiting_.front());
    waiting_.pop_front();
    const HeadingFinder::Heading* heading =
        headings_ ? headings_->headingAt(chunk.startByte) : nullptr;
    if (heading && heading != heading_) {
        heading_ = heading;
        timings_.chapters.push_back({.number = ++headingsSeen_, .title = heading->title});
    } else if (headings_ && timings_.chapters.empty()) {
        // The text before the first heading.
        timings_.chapters.push_back({.number = 0, .title = {}});
    }
    SentenceTiming timing;
    timing.text = chunk.text;
    timing.startByte = offsets_.offsetOf(chunk.startByte);
    timing.endByte = offsets_.offsetOf(chunk.endByte);
    timing.paragraph = paragraphs_.next(chunk.before == Boundary::Paragraph);
    timing.chapter = timings_.chapters.empty() ? 0 : timings_.chapters.back().number;
    sentence = timings_.sentences.size();
    timings_.sentences.push_back(std::move(timing));
    return chunk;
}

void chunkText(TextFileReader& reader, const ConversionRequest& request, TextChunker& chunker,
               SentenceLedger* ledger, const std::function<void()>& ready) {
    CharacterWindow window(request.firstCharacter, request.characterCount);
    std::string decoded;
    while (!window.done() && reader.read(decoded)) {
        const std::string_view kept = window.take(decoded);
        if (ledger)
            ledger->read(std::string_view(decoded).substr(
                             0, static_cast<std::size_t>(kept.data() - decoded.data())),
                         kept);
        // Small slices keep the chunker's own buffer short.
        constexpr std::size_t slice = 4096;
        for (std::size_t at = 0; at < kept.size(); at += slice) {
            chunker.push(kept.substr(at, slice));
            ready();
        }
    }
    chunker.finish();
    if (ledger)
        ledger->finish();
    ready();
}

} // namespace kestrova::speech
