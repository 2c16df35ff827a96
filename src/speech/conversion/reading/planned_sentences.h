#pragma once

#include "speech/conversion/reading/sentence_voices.h"
#include "speech/converter.h"
#include "speech/text/script/text_chunker.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// One sentence of a structured document as its reading hands it on: its chunk (endCharacter
// counted over the chapters selected), its voice, chapter, paragraph and place in its source.
struct DocumentSentence {
    TextChunk chunk;
    const Voice* voice = nullptr;
    // Where a passage in another language takes over inside it, and where the voice returns:
    // each voice after the first, at its byte of chunk.text. Empty: voice reads it all.
    std::vector<VoiceStart> voiceChanges;
    unsigned chapter = 0;
    std::string_view chapterTitle; // empty for chapter 0
    unsigned paragraph = 1;
    std::optional<std::uint64_t> startByte;
    std::optional<std::uint64_t> endByte;
    std::string_view source;
    std::string_view page; // the label of its page; empty: none
};

// A structured document's sentences, kept from the plan's one reading for the rendering, so
// that the document is read once. A book's text is held in one buffer with a small fixed-size
// record per sentence; its few voices, sources and chapters once each.
class PlannedSentences {
public:
    void add(const DocumentSentence& sentence);
    // Each sentence again, in order, as the reading handed it on.
    void replay(const std::function<void(DocumentSentence)>& speak) const;

    // The chapters the sentences are in, each as its first sentence entered it.
    const std::vector<ChapterTiming>& chapters() const { return chapters_; }

private:
    static constexpr std::uint64_t noByte = UINT64_MAX;

    struct Record {
        std::uint64_t
            textEnd; // the chunk's text ends here in text_; it begins where the last ended
        std::uint64_t endCharacter;
        std::uint64_t startByte; // noByte: none
        std::uint64_t endByte;
        std::uint32_t paragraph;
        std::uint32_t chapter;    // its index in chapters_
        std::uint32_t source;     // its index in sources_
        std::uint32_t page;       // its index in pages_
        std::uint32_t changesEnd; // its voice changes end here in changes_
        std::uint16_t voice;      // its index in voices_
        Boundary before;
    };

    struct Change {
        std::uint32_t at;
        std::uint16_t voice;
    };

    std::uint16_t voiceIndex(const Voice& voice);
    static std::uint32_t nameIndex(std::vector<std::string>& names, std::string_view name);

    std::string text_;
    std::vector<Record> records_;
    std::vector<Change> changes_;
    std::vector<Voice> voices_;
    std::vector<std::string> sources_;
    std::vector<std::string> pages_;
    std::vector<ChapterTiming> chapters_;
};

// Where a sentence is the first of its chapter in the list, the chapter enters it.
void enterChapter(std::vector<ChapterTiming>& chapters, const DocumentSentence& sentence);

} // namespace kestrova::speech
