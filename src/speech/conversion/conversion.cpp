#include "speech/conversion/conversion.h"

#include "speech/audio/processing/sample_gain.h"
#include "speech/conversion/request_rules.h"
#include "speech/conversion_paths.h"
#include "speech/quoted_name.h"
#include "speech/render/chunk_renderer.h"
#include "speech/render/worker_pool.h"
#include "speech/text/script/text_measures.h"

#include <algorithm>
#include <utility>

namespace kestrova::speech {
namespace {

// A generous guess at the length of the speech: fewer characters a second than any voice
// speaks, so that the guess runs long rather than short.
std::uint64_t expectedFrames(std::uint64_t characters, const AudioFormat& format) {
    return characters / slowCharactersPerSecond * static_cast<std::uint64_t>(format.sampleRate);
}

// Where a chunk's sample stands among its frames, past the pauses before it.
std::uint64_t frameOf(const RenderedChunk& chunk, std::size_t sample) {
    std::uint64_t frame = sample;
    for (const RenderedChunk::Silence& silence : chunk.silences)
        if (silence.before <= sample)
            frame += silence.frames;
    return frame;
}

std::uint64_t framesOfMs(int ms, const AudioFormat& format) {
    return static_cast<std::uint64_t>(std::max(ms, 0)) *
           static_cast<std::uint64_t>(format.sampleRate) / 1000;
}

} // namespace

Conversion::Conversion(const ConversionRequest& request, ConversionPlan& plan,
                       const ProgressCallback& progress, const std::atomic<bool>* cancel)
    : request_(request), progress_(progress), cancel_(cancel), plan_(checkedPlan(request, plan)),
      input_(*plan.input()), loadedLexicon_(loadLexicon()),
      lexicon_(request.speech.lexicon ? *request.speech.lexicon : *loadedLexicon_),
      reader_(input_.document ? nullptr : &input_.text(request, cancel)),
      markup_(readsMarkup(request) ? std::optional(readMarkup(*reader_, request, lexicon_))
                                   : std::nullopt),
      document_(input_.document.get()), total_(charactersToSpeak()), kept_(keptChunksFor(request)),
      // With 0 jobs too, every run is rendered in a child process: eSpeak NG keeps state from
      // one rendering to the next that nothing resets, so rendering in this process would make
      // the sound depend on what the process rendered before.
      pipeline_(std::make_unique<WorkerPool>(request.speech.voice, request.output.format.sampleRate,
                                             std::clamp(request.speech.jobs, 1u, maximumJobs()),
                                             cancel, total_, WorkerPool::defaultRingSamples,
                                             kept_ ? &*kept_ : nullptr)),
      timed_(request.chapters.recordTimings || request.chapters.pattern || request.chapters.split ||
             document_),
      chapterPauseMs_(chapterPauseOf(request)), timings_(result_.timings),
      sequence_(pausesOf(request.speech.controls), request.speech.voice,
                [this](RenderTask task) { submit(std::move(task)); }),
      asked_(askedProsody(request.speech.controls)),
      // With timings, every sentence is a chunk of its own.
      // A sentence of quoted speech and narration is one chunk of several voices.
      chunker_(chunkerFor(timed_ || request.speech.dialogueVoice, request.speech.voice)),
      leadInLeft_(framesOfMs(request.mastering.leadInMs, request.output.format)) {
    timings_.sampleRate = request.output.format.sampleRate;
    // Chapters are found in plain text; markup has its own structure, and so has a document.
    if (timed_ && !markup_ && !document_)
        ledger_.emplace(request, *reader_, timings_);
    if (request.speech.dialogueVoice && !markup_ && !document_)
        plainDialogue_.emplace(
            request.speech.voice, *request.speech.dialogueVoice, request.speech.voice.language,
            [this](TextChunk chunk, std::size_t sentence, const std::vector<VoiceStart>& voices) {
                sequenceChunk(std::move(chunk), sentence, *voices.front().voice,
                              {voices.begin() + 1, voices.end()});
            });
    if (markup_ && request.speech.dialogueVoice && request.callbacks.warning)
        request.callbacks.warning(quotedName(request.input.path.native()) +
                                  ": an SSML document keeps its own voices: --dialogue-voice "
                                  "is not used");
    if (markup_ && request.chapters.pattern && request.callbacks.warning)
        request.callbacks.warning(
            "chapters are found in plain text only: the SSML document is one");
    outputs_.emplace(request, plan_, expectedFrames(total_, request.output.format), cancel);
    if (kept_)
        if (const std::optional<int> sound = outputs_->soundAsWritten()) {
            kept_->keepInSound(*sound);
            keptInSound_ = true;
        }
}

ConversionResult Conversion::run() {
    if (progress_)
        progress_(0.0);
    // What the plan found to say: the document's warnings and the voice's.
    input_.tellHeld();
    if (markup_)
        sequenceMarkup(*markup_, request_, sequence_, timed_ ? &timings_ : nullptr);
    if (document_)
        readDocument();
    if (!markup_ && !document_)
        chunkText(*reader_, request_, chunker_, ledger_ ? &*ledger_ : nullptr,
                  [this] { sequenceReadyChunks(); });
    if (plainDialogue_)
        plainDialogue_->finish();
    sequence_.finish();
    writeRendered(true);
    throwIfCancelled(cancel_, request_);
    writeTail();
    finishTimings();
    outputs_->addChapters(timings_.chapters);
    // With a second pass, rendering is the first share of the progress and the second pass
    // the rest.
    outputs_->commit([this](double done) {
        if (progress_)
            progress_(renderShare() + (1.0 - renderShare()) * done);
    });
    if (kept_) {
        result_.keptChunks = kept_->taken();
        if (request_.output.keptBeside.empty())
            kept_->remove();
    }
    if (progress_)
        progress_(1.0);
    return finish();
}

// The paths

const ChapterPlan& Conversion::checkedPlan(const ConversionRequest& request,
                                           const ConversionPlan& plan) {
    checkPaths(request, plan.chapters());
    return plan.chapters();
}

// The files the conversion reads and writes: no two of them one file (renaming the finished
// sound onto the text, say, would destroy the text).
void Conversion::checkPaths(const ConversionRequest& request, const ChapterPlan& plan) {
    ConversionPaths paths;
    paths.addRead("the text file", request.input.path);
    for (const std::filesystem::path& lexicon : request.speech.controls.lexicons)
        paths.addRead("the lexicon", lexicon);
    if (!request.output.coverFile.empty())
        paths.addRead("the cover", request.output.coverFile);
    if (request.output.toStandardOutput)
        paths.addStandardOutput("standard output");
    else if (!request.chapters.split)
        paths.addWritten("the sound file", request.output.path);
    for (const std::filesystem::path& file : plan.files)
        paths.addWritten("the chapter file", file);
    paths.check();
}

// The chunks of an earlier run of this conversion, in a folder named after its output. Only
// for a file: a device or a FIFO is written as it plays and gets no folder beside it.
std::optional<KeptChunks> Conversion::keptChunksFor(const ConversionRequest& request) {
    if (!request.output.resume || request.output.toStandardOutput)
        return std::nullopt;
    const std::filesystem::path& namedAfter =
        request.output.keptBeside.empty() ? request.output.path : request.output.keptBeside;
    std::error_code unknown;
    const std::filesystem::file_status status = std::filesystem::status(namedAfter, unknown);
    if (status.type() != std::filesystem::file_type::regular &&
        status.type() != std::filesystem::file_type::not_found)
        return std::nullopt;
    return KeptChunks(KeptChunks::folderFor(namedAfter));
}

// The reading

// A bad line of a lexicon fails the conversion before anything is rendered.
// A long list, or a FIFO with no writer, must not hold a stop signal off.
std::optional<Lexicon> Conversion::loadLexicon() const {
    if (request_.speech.lexicon)
        return std::nullopt;
    return Lexicon::load(request_.speech.controls.lexicons,
                         [this] { throwIfCancelled(cancel_, request_); });
}

std::uint64_t Conversion::charactersToSpeak() const {
    if (document_)
        return std::max<std::uint64_t>(1, plan_.characters);
    const std::uint64_t available =
        reader_->totalCharacters() -
        std::min(reader_->totalCharacters(), request_.input.firstCharacter);
    return std::max<std::uint64_t>(
        1, markup_ ? markup_->characters
                   : std::min(available, request_.input.characterCount.value_or(available)));
}

// Entries apply within one chunk, which ends at a sentence or paragraph end: a phrase never
// matches across the cut.
std::string Conversion::pronounced(std::string text) const {
    return lexicon_.empty() ? text : lexicon_.apply(text);
}

// The document's sentences: the plan's, read when it was made, else read now, sequenced as
// they are read.
void Conversion::readDocument() {
    const auto speak = [this](DocumentSentence sentence) {
        speakSentence(std::move(sentence));
    };
    if (input_.sentences) {
        input_.sentences->replay(speak);
        return;
    }
    StructuredReading reading(request_, request_.speech.voice, document_->metadata().language,
                              request_.speech.voices, request_.callbacks.warning, speak);
    document_->read(reading);
    reading.finish();
}

// The sentence enters the timings, and its chapter with its first sentence; a book's words are
// kept whole only when asked for: chapters alone need none.
void Conversion::speakSentence(DocumentSentence sentence) {
    enterChapter(timings_.chapters, sentence);
    SentenceTiming& timing = timings_.sentences.emplace_back();
    timing.paragraph = sentence.paragraph;
    timing.chapter = sentence.chapter;
    if (request_.chapters.recordTimings) {
        timing.text = sentence.chunk.text;
        timing.startByte = sentence.startByte;
        timing.endByte = sentence.endByte;
        timing.source = std::string(sentence.source);
        timing.page = std::string(sentence.page);
    }
    sequenceChunk(std::move(sentence.chunk), timings_.sentences.size() - 1, *sentence.voice,
                  sentence.voiceChanges);
}

// Each voice's part of a sentence of several voices, for the timings.
std::vector<SentencePart> Conversion::sentenceParts(const std::string& text,
                                                    const Voice& firstVoice,
                                                    const std::vector<VoiceStart>& voiceChanges) {
    std::vector<SentencePart> parts;
    std::size_t begin = 0;
    const Voice* voice = &firstVoice;
    for (std::size_t i = 0; i <= voiceChanges.size(); ++i) {
        const std::size_t end = i < voiceChanges.size() ? voiceChanges[i].at : text.size();
        // The space between two parts belongs to neither.
        const std::size_t first = std::min(text.find_first_not_of(' ', begin), end);
        const std::size_t last = text.find_last_not_of(' ', end - 1);
        const std::size_t size = end > first && last != std::string::npos ? last + 1 - first : 0;
        parts.push_back({.offset = first, .text = text.substr(first, size), .voice = voice->id});
        if (i < voiceChanges.size()) {
            begin = end;
            voice = voiceChanges[i].voice;
        }
    }
    return parts;
}

// A sentence of several voices has each voice's part pronounced on its own.
void Conversion::sequenceChunk(TextChunk chunk, std::size_t sentence, const Voice& voice,
                               const std::vector<VoiceStart>& voiceChanges) {
    if (sentence != RenderTask::noSentence)
        pauseBeforeChapter(timings_.sentences[sentence].chapter);
    RenderTask task;
    if (voiceChanges.empty()) {
        // A sentence all quoted speech says its voice too.
        if (sentence != RenderTask::noSentence && request_.speech.dialogueVoice &&
            voice.id == request_.speech.dialogueVoice->id)
            timings_.sentences[sentence].parts = sentenceParts(chunk.text, voice, {});
        task.text = pronounced(std::move(chunk.text));
    } else {
        if (sentence != RenderTask::noSentence)
            timings_.sentences[sentence].parts = sentenceParts(chunk.text, voice, voiceChanges);
        std::vector<VoiceStart> voices{{.at = 0, .voice = &voice}};
        voices.insert(voices.end(), voiceChanges.begin(), voiceChanges.end());
        task.voiceChanges = pronouncedParts(
            chunk.text, voices, [this](std::string text) { return pronounced(std::move(text)); });
        task.text = std::move(chunk.text);
    }
    task.voice = voice;
    task.prosody = asked_;
    task.endCharacter = chunk.endCharacter;
    task.sentence = sentence;
    sequence_.addChunk(std::move(task), chunk.before);
}

// A heading's chapter begins after exactly the chapter pause, which ends the chapter before it;
// the first sound of the conversion has nothing before it to pause after.
void Conversion::pauseBeforeChapter(unsigned chapter) {
    const bool begins = chapter != sequencedChapter_;
    sequencedChapter_ = chapter;
    if (chapterPauseMs_ && begins && chapter > 0 && sequencedSound_)
        sequence_.addBreak(*chapterPauseMs_);
    sequencedSound_ = true;
}

void Conversion::sequenceReadyChunks() {
    while (auto chunk = chunker_.next()) {
        if (ledger_)
            ledger_->add(std::move(*chunk));
        else
            sequencePlainChunk(std::move(*chunk), RenderTask::noSentence);
    }
    std::size_t sentence = RenderTask::noSentence;
    while (ledger_) {
        std::optional<TextChunk> settled = ledger_->next(sentence);
        if (!settled)
            break;
        sequencePlainChunk(std::move(*settled), sentence);
    }
}

void Conversion::sequencePlainChunk(TextChunk chunk, std::size_t sentence) {
    if (plainDialogue_)
        plainDialogue_->add(std::move(chunk), sentence);
    else
        sequenceChunk(std::move(chunk), sentence, request_.speech.voice);
}

// The rendering

void Conversion::submit(RenderTask task) {
    throwIfCancelled(cancel_, request_);
    while (!pipeline_->canSubmit())
        write(*pipeline_->next(true));
    sentencesInFlight_.push_back(task.sentence);
    ++result_.chunks;
    pipeline_->submit(std::move(task));
    writeRendered(false);
}

// Every chunk rendered so far, in order; with wait, every chunk still to come.
void Conversion::writeRendered(bool wait) {
    while (auto rendered = pipeline_->next(wait))
        write(std::move(*rendered));
}

// The writing and the timings

void Conversion::write(RenderedChunk chunk) {
    throwIfCancelled(cancel_, request_);
    if (chunk.volume != 1.0)
        result_.limitedSamples += applyGain(chunk.samples, chunk.volume);
    const std::size_t sentence = sentencesInFlight_.front();
    sentencesInFlight_.pop_front();
    if (sentence != RenderTask::noSentence && beginsChapter(timings_.sentences[sentence]))
        separateChapterFiles();
    // The chunk's sound starts after the lead-in still to be written.
    const std::uint64_t start = outputs_->frames() + leadInLeft_;
    for (auto& [name, offset] : chunk.marks)
        timings_.marks.push_back({.name = std::move(name), .frame = start + offset});
    if (sentence != RenderTask::noSentence)
        recordSentence(chunk, sentence, start);
    outputs_->writeSilence(std::exchange(leadInLeft_, 0));
    const std::uint64_t firstByte = keptInSound_ ? outputs_->nextSoundByte() : 0;
    outputs_->write(chunk);
    if (keptInSound_)
        kept_->keptInSound(chunk.keptKey, chunk, firstByte);
    if (request_.callbacks.soundWritten)
        request_.callbacks.soundWritten(static_cast<double>(outputs_->frames()) /
                                        request_.output.format.sampleRate);
    if (progress_)
        progress_(renderShare() * std::min(1.0, static_cast<double>(chunk.endCharacter) / total_));
}

// Where the sentence's speech lands, before the chunk is written. A sentence of markup may
// take several chunks in a row: its speech runs from the first audible sample of the first
// of them to the last of the last.
void Conversion::recordSentence(const RenderedChunk& chunk, std::size_t sentence,
                                std::uint64_t start) {
    SentenceTiming& timing = timings_.sentences[sentence];
    const std::optional<std::pair<std::size_t, std::size_t>> span =
        ChunkRenderer::audibleSpan(chunk.samples);
    const bool continued = sentence == recordedSentence_;
    recordedSentence_ = sentence;
    if (continued) {
        if (span && !recordedAudible_)
            timing.firstFrame = start + frameOf(chunk, span->first);
        if (span)
            timing.lastFrame = start + frameOf(chunk, span->second);
        recordedAudible_ = recordedAudible_ || span;
        return;
    }
    recordedAudible_ = span.has_value();
    timing.firstFrame = start + (span ? frameOf(chunk, span->first) : 0);
    timing.lastFrame = start + (span ? frameOf(chunk, span->second) : 0);
    beginChapterOf(timing);
}

// Whether the sentence is the first of a chapter not yet begun.
bool Conversion::beginsChapter(const SentenceTiming& timing) const {
    return chapterWritten_ < timings_.chapters.size() &&
           (chapterWritten_ == 0 ||
            timing.chapter != timings_.chapters[chapterWritten_ - 1].number);
}

// With room tone in every file, the chapter whose file ends gets its tail and the next its
// lead-in (it begins where its lead-in begins).
void Conversion::separateChapterFiles() {
    if (!request_.mastering.roomTonePerFile || !request_.chapters.split || chapterWritten_ == 0)
        return;
    outputs_->writeSilence(framesOfMs(request_.mastering.tailMs, request_.output.format));
    leadInLeft_ = framesOfMs(request_.mastering.leadInMs, request_.output.format);
}

// The silence after the last sound. Split, a text without sound has begun no chapter's file:
// its one file begins here, with the lead-in and the tail it has unsplit.
void Conversion::writeTail() {
    if (request_.chapters.split && chapterWritten_ == 0)
        outputs_->beginChapter({});
    outputs_->writeSilence(std::exchange(leadInLeft_, 0) +
                           framesOfMs(request_.mastering.tailMs, request_.output.format));
}

// The first sentence of a chapter begins it (and, split, its file), ending the one before.
void Conversion::beginChapterOf(const SentenceTiming& timing) {
    if (!beginsChapter(timing))
        return;
    if (chapterWritten_ > 0)
        timings_.chapters[chapterWritten_ - 1].endFrame = outputs_->frames();
    ChapterTiming& chapter = timings_.chapters[chapterWritten_++];
    chapter.startFrame = outputs_->frames();
    chapter.headingFrame = timing.firstFrame;
    outputs_->beginChapter(chapter);
}

void Conversion::finishTimings() {
    timings_.frames = outputs_->frames();
    if (!timings_.chapters.empty())
        timings_.chapters.back().endFrame = outputs_->frames();
}

// The second pass (measured: rendering takes about half of a conversion with a loudness target
// on two cores) after the rendering.
double Conversion::renderShare() const {
    return request_.mastering.loudness.targetLufs ? 0.5 : 1.0;
}

ConversionResult Conversion::finish() {
    result_.frames = outputs_->frames();
    result_.format = request_.output.format;
    result_.seconds = static_cast<double>(outputs_->frames()) / request_.output.format.sampleRate;
    result_.textFile = input_.identity();
    result_.wroteFile = outputs_->isFile();
    result_.chapterFiles = outputs_->paths();
    result_.loudness = outputs_->loudness();
    return std::move(result_);
}

} // namespace kestrova::speech
