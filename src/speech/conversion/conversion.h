#pragma once

#include "speech/conversion/reading/markup_reading.h"
#include "speech/conversion/reading/plain_dialogue.h"
#include "speech/conversion/reading/plain_text_reading.h"
#include "speech/conversion/reading/planned_input.h"
#include "speech/conversion/reading/structured_reading.h"
#include "speech/conversion/sound_outputs.h"
#include "speech/conversion_plan.h"
#include "speech/converter.h"
#include "speech/render/chunk_sequence.h"
#include "speech/render/kept_chunks.h"
#include "speech/render/render_pipeline.h"
#include "speech/text/lexicon/lexicon.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "speech/text/script/text_chunker.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace kestrova::speech {

// One conversion of a text file into sound, in steps: its paths, checked before anything is
// read; its reading of the text (plain or markup) into chunks; their rendering in worker
// processes; the writing of the rendered sound; and its timings. Made, the text is open and
// the workers are running; run() does the rest, once.
// Must not move: the ledger holds the timings and the sequence this object by address.
class Conversion {
public:
    // The plan's input is read from where it stands: opened, and for a document, surveyed.
    Conversion(const ConversionRequest& request, ConversionPlan& plan,
               const ProgressCallback& progress, const std::atomic<bool>* cancel);
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    ConversionResult run();

private:
    // Paths
    static const ChapterPlan& checkedPlan(const ConversionRequest& request,
                                          const ConversionPlan& plan);
    static void checkPaths(const ConversionRequest& request, const ChapterPlan& plan);
    static std::optional<KeptChunks> keptChunksFor(const ConversionRequest& request);

    // Reading
    std::optional<Lexicon> loadLexicon() const;
    std::uint64_t charactersToSpeak() const;
    std::string pronounced(std::string text) const;
    void readDocument();
    void speakSentence(DocumentSentence sentence);
    static std::vector<SentencePart> sentenceParts(const std::string& text, const Voice& firstVoice,
                                                   const std::vector<VoiceStart>& voiceChanges);
    void sequencePlainChunk(TextChunk chunk, std::size_t sentence);
    void sequenceChunk(TextChunk chunk, std::size_t sentence, const Voice& voice,
                       const std::vector<VoiceStart>& voiceChanges = {});
    void pauseBeforeChapter(unsigned chapter);
    void sequenceReadyChunks();

    // Rendering
    void submit(RenderTask task);
    void writeRendered(bool wait);

    // Writing and timings
    void write(RenderedChunk chunk);
    void recordSentence(const RenderedChunk& chunk, std::size_t sentence, std::uint64_t start);
    bool beginsChapter(const SentenceTiming& timing) const;
    void separateChapterFiles();
    void writeTail();
    void beginChapterOf(const SentenceTiming& timing);
    void finishTimings();
    ConversionResult finish();
    double renderShare() const;

    const ConversionRequest& request_;
    const ProgressCallback& progress_;
    const std::atomic<bool>* cancel_;
    // The chapters' files are known before anything is rendered, and so checked with the rest.
    const ChapterPlan& plan_;
    ConversionPlan::Input& input_;
    std::optional<Lexicon> loadedLexicon_;
    const Lexicon& lexicon_;
    // Plain text and markup's reader; none for a structured document.
    TextFileReader* reader_;
    std::optional<Markup> markup_;
    StructuredDocument* document_;
    std::uint64_t total_;
    std::optional<KeptChunks> kept_; // with resume asked for
    std::unique_ptr<RenderPipeline> pipeline_;
    ConversionResult result_;
    // Chapters, and so the timings: asked for, or a structured document's own.
    const bool timed_;
    const std::optional<int> chapterPauseMs_;
    SpeechTimings& timings_;
    std::optional<SentenceLedger> ledger_;
    // A plain text's sentences on their way to the dialogue voice, a paragraph at a time.
    std::optional<PlainDialogue> plainDialogue_;
    std::optional<SoundOutputs> outputs_;
    bool keptInSound_ = false; // the kept chunks are in the sound file (KeptChunks::keepInSound)
    // The sentence of each task in the pipeline, in order: each task gives one rendered chunk.
    std::deque<std::size_t> sentencesInFlight_;
    std::size_t chapterWritten_ = 0; // chapters whose sound has begun
    // The sentence last recorded, and whether any of its chunks so far was audible.
    std::size_t recordedSentence_ = RenderTask::noSentence;
    bool recordedAudible_ = false;
    ChunkSequence sequence_;
    // The chapter of the last chunk sequenced, and whether any was.
    unsigned sequencedChapter_ = 0;
    bool sequencedSound_ = false;
    const Prosody asked_;
    TextChunker chunker_;
    // The lead-in still to be written before the next chunk's sound.
    std::uint64_t leadInLeft_;
};

} // namespace kestrova::speech
