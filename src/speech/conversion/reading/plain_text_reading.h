#pragma once

#include "speech/conversion/reading/paragraph_counter.h"
#include "speech/converter.h"
#include "speech/text/readers/plain/heading_finder.h"
#include "speech/text/readers/plain/input_offsets.h"
#include "speech/text/script/text_chunker.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string_view>

namespace kestrova::speech {

class TextFileReader;

// Follows a plain text into sentences as the chunker cuts them: where each stands in the
// file, its paragraph and chapter. A chunk waits here until the headings around it are
// settled.
class SentenceLedger {
public:
    SentenceLedger(const ConversionRequest& request, const TextFileReader& reader,
                   SpeechTimings& timings);

    // What was read: the part before the window skipped, the rest kept for the chunker.
    void read(std::string_view skipped, std::string_view kept) {
        offsets_.skip(skipped);
        offsets_.keep(kept);
        if (headings_)
            headings_->push(kept);
    }
    void finish() {
        if (headings_)
            headings_->finish();
    }

    void add(TextChunk chunk) { waiting_.push_back(std::move(chunk)); }

    // The next chunk whose sentence is settled, with its sentence recorded.
    // Chunks of chapters the request does not select are passed over.
    std::optional<TextChunk> next(std::size_t& sentence);
    // Headings found so far, selected or not.
    unsigned headings() const { return headingsSeen_; }

private:
    void followChapter(const TextChunk& chunk);

    SpeechTimings& timings_;
    InputOffsets offsets_;
    std::optional<HeadingFinder> headings_;
    const HeadingFinder::Heading* heading_ = nullptr;
    const ChapterSelection& selection_;
    std::optional<ChapterTiming> chapter_; // the chapter of the chunks now read
    std::deque<TextChunk> waiting_;
    ParagraphCounter paragraphs_;
    unsigned headingsSeen_ = 0;
};

// Reads the plain text through the character window of the request into the chunker (and the
// ledger, when given), calling ready after each small slice and once at the end.
void chunkText(TextFileReader& reader, const ConversionRequest& request, TextChunker& chunker,
               SentenceLedger* ledger, const std::function<void()>& ready);

} // namespace kestrova::speech
