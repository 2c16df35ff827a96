#include "speech/converter.h"

#include "speech/audio/output_target.h"
#include "speech/audio/pending_file.h"
#include "speech/audio/sample_gain.h"
#include "speech/audio/sound_file_writer.h"
#include "speech/conversion/chapter_file_path.h"
#include "speech/conversion_paths.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/render/chunk_renderer.h"
#include "speech/render/chunk_sequence.h"
#include "speech/render/worker_pool.h"
#include "speech/speech_error.h"
#include "speech/text/heading_finder.h"
#include "speech/text/input_offsets.h"
#include "speech/text/lexicon.h"
#include "speech/text/ssml_reader.h"
#include "speech/text/text_chunker.h"
#include "speech/text/text_file_reader.h"
#include "speech/text/text_measures.h"
#include "speech/text/utf8.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <map>
#include <thread>
#include <variant>

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

// A generous guess at the length of the speech: fewer characters a second than any voice
// speaks, so that the guess runs long rather than short.
std::uint64_t expectedFrames(std::uint64_t characters, const AudioFormat& format) {
    return characters / slowCharactersPerSecond * static_cast<std::uint64_t>(format.sampleRate);
}

// The container the sound is written in, as far as it is known before the output is opened
// (a stream without a chosen container gets AU).
Container chosenContainer(const ConversionRequest& request) {
    return writtenContainer(request.container, request.output, request.toStandardOutput);
}

void throwIfCancelled(const std::atomic<bool>* cancel, const ConversionRequest& request) {
    if (cancel && cancel->load())
        throw ConversionCancelled(outputFailure(request.output, "the conversion was cancelled",
                                                soundFileKind(chosenContainer(request))));
}

// The prosody the controls ask for, as fractions of the voice's own.
Prosody askedProsody(const VoiceControls& controls) {
    return {.rate = controls.ratePercent / 100.0,
            .pitch = controls.pitchPercent / 100.0,
            .volume = controls.volumePercent / 100.0};
}

PauseSettings pausesOf(const VoiceControls& controls) {
    return {.sentenceMs = controls.sentencePauseMs, .paragraphMs = controls.paragraphPauseMs};
}

// Markup's prosody is relative to what the options ask for.
Prosody combined(const Prosody& asked, const Prosody& run) {
    // Held to the ranges the options accept, as each level of markup is.
    return {.rate = rateRange.clamped(asked.rate * run.rate),
            .pitch = pitchRange.clamped(asked.pitch * run.pitch),
            .volume = asked.volume * run.volume};
}

// Where a chunk's sample stands among its frames, past the pauses before it.
std::uint64_t frameOf(const RenderedChunk& chunk, std::size_t sample) {
    std::uint64_t frame = sample;
    for (const RenderedChunk::Silence& silence : chunk.silences)
        if (silence.before <= sample)
            frame += silence.frames;
    return frame;
}

// A markup document, read whole before anything is rendered or opened: its script with the
// lexicon applied to every run, and the voice each name in it selects.
struct Markup {
    SpeechScript script;
    std::map<std::string, Voice> voices;
    std::uint64_t characters = 0;
};

Markup readMarkup(TextFileReader& reader, const ConversionRequest& request,
                  const Lexicon& lexicon) {
    Markup markup;
    try {
        // The file's own bytes as they are read: the XML parser decodes them, once, as the
        // document declares (its start, in the first piece, says how).
        // FILE:LINE:COLUMN as compilers write it; a name that could break the line is quoted.
        const std::string& name = request.input.native();
        const std::string sourceName = isPlainName(name) ? name : quotedName(name);
        std::optional<SsmlReader> ssml;
        std::string piece;
        std::uint64_t bytes = 0;
        while (reader.readUndecoded(piece)) {
            if ((bytes += piece.size()) > ssmlMaxBytes)
                throw FileError(inputFailure("read", request.input,
                                             "an SSML document may be at most " +
                                                 std::to_string(ssmlMaxBytes >> 20) + " MiB"));
            if (!ssml)
                ssml.emplace(sourceName, request.warning,
                             request.encoding != TextEncoding::Automatic
                                 ? request.encoding
                                 : ssmlEncoding(piece, reader.encoding()));
            ssml->push(piece);
        }
        if (!ssml)
            ssml.emplace(sourceName);
        markup.script = ssml->finish();
    } catch (const FileError&) {
        throw;
    } catch (const SpeechError& failure) {
        throw FileError(failure.what()); // it names the file, line and column already
    }
    std::optional<VoiceRegistry> discovered;
    for (SpeechItem& item : markup.script) {
        auto* run = std::get_if<SpeechRun>(&item);
        if (run == nullptr)
            continue;
        if (!lexicon.empty())
            run->text = lexicon.apply(run->text);
        markup.characters += characterCount(run->text);
        if (run->voiceName.empty() || markup.voices.contains(run->voiceName))
            continue;
        if (!request.voices && !discovered)
            discovered.emplace();
        const VoiceRegistry& registry = request.voices ? *request.voices : *discovered;
        markup.voices.emplace(run->voiceName, registry.find(run->voiceName));
    }
    return markup;
}

// The runs of markup, each cut into chunks of its own, with its breaks and marks.
// With timings, every sentence is a chunk of its own, so that each lands in a chunk's sound.
// Sentences end by the conventions of the voice's language.
TextChunker chunkerFor(bool timed, const Voice& voice) {
    return timed ? TextChunker(1, TextChunker::defaultLimitBytes, voice.language)
                 : TextChunker(TextChunker::defaultTargetBytes, TextChunker::defaultLimitBytes,
                               voice.language);
}

// With timings, every sentence is a chunk of its own and is recorded, without a place in the
// file (markup's text has none).
void sequenceMarkup(const Markup& markup, const ConversionRequest& request, ChunkSequence& sequence,
                    SpeechTimings* timings) {
    const Prosody asked = askedProsody(request.controls);
    std::uint64_t spoken = 0;
    unsigned paragraph = 1;
    bool paragraphEnded = false;
    for (const SpeechItem& item : markup.script) {
        if (const auto* run = std::get_if<SpeechRun>(&item)) {
            const Voice& voice =
                run->voiceName.empty() ? request.voice : markup.voices.at(run->voiceName);
            TextChunker chunker = chunkerFor(timings != nullptr, voice);
            chunker.push(run->text);
            chunker.finish();
            while (auto chunk = chunker.next()) {
                RenderTask task;
                if (timings) {
                    if ((paragraphEnded || chunk->before == Boundary::Paragraph) &&
                        !timings->sentences.empty())
                        ++paragraph;
                    paragraphEnded = false;
                    task.sentence = timings->sentences.size();
                    SentenceTiming& timing = timings->sentences.emplace_back();
                    timing.text = chunk->text;
                    timing.paragraph = paragraph;
                }
                task.text = std::move(chunk->text);
                task.voice = voice;
                task.prosody = combined(asked, run->prosody);
                task.endCharacter = spoken + chunk->endCharacter;
                sequence.addChunk(std::move(task), chunk->before);
            }
            spoken += characterCount(run->text);
        } else if (const auto* pause = std::get_if<SpeechBreak>(&item)) {
            if (pause->kind == SpeechBreak::Kind::Explicit)
                sequence.addBreak(pause->milliseconds);
            else
                sequence.addBoundary(pause->kind == SpeechBreak::Kind::Paragraph
                                         ? Boundary::Paragraph
                                         : Boundary::Sentence);
            paragraphEnded = paragraphEnded || pause->kind == SpeechBreak::Kind::Paragraph;
        } else {
            sequence.addMark(std::get<SpeechMark>(item).name);
        }
    }
}

// Follows a plain text into sentences as the chunker cuts them: where each stands in the
// file, its paragraph and chapter. A chunk waits here until the headings around it are
// settled.
class SentenceLedger {
public:
    SentenceLedger(const ConversionRequest& request, const TextFileReader& reader,
                   SpeechTimings& timings)
        : timings_(timings), offsets_(reader.encoding(), reader.markLength()) {
        if (request.chapterPattern || request.splitChapters)
            headings_.emplace(request.chapterPattern.value_or(std::string(defaultChapterPattern)));
    }

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
    std::optional<TextChunk> next(std::size_t& sentence) {
        if (waiting_.empty() ||
            (headings_ && waiting_.front().startByte >= headings_->resolvedEnd()))
            return std::nullopt;
        TextChunk chunk = std::move(waiting_.front());
        waiting_.pop_front();
        if (chunk.before == Boundary::Paragraph && !timings_.sentences.empty())
            ++paragraph_;
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
        timing.paragraph = paragraph_;
        timing.chapter = timings_.chapters.empty() ? 0 : timings_.chapters.back().number;
        sentence = timings_.sentences.size();
        timings_.sentences.push_back(std::move(timing));
        return chunk;
    }

private:
    SpeechTimings& timings_;
    InputOffsets offsets_;
    std::optional<HeadingFinder> headings_;
    const HeadingFinder::Heading* heading_ = nullptr;
    std::deque<TextChunk> waiting_;
    unsigned paragraph_ = 1;
    unsigned headingsSeen_ = 0;
};

// Reads the plain text through the character window into the chunker (and the ledger, when
// given), calling ready after each small slice and once at the end.
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

// Where the sound goes: one file, or with split chapters one file per chapter, each begun
// when its chapter's first sound arrives and all named only when the last is complete.
class SoundOutputs {
public:
    SoundOutputs(const ConversionRequest& request, const ChapterPlan& plan,
                 std::uint64_t expectedFrames, const std::atomic<bool>* cancel)
        : request_(request), plan_(plan), expectedFrames_(expectedFrames), cancel_(cancel) {
        if (request.splitChapters && request.toStandardOutput)
            throw FileError(outputFailure(request.output,
                                          "chapters split into files cannot go to a stream",
                                          soundFileKind(chosenContainer(request))));
        if (request.splitChapters && request.controls.ssml)
            throw SpeechError("chapters are found in plain text only, not in SSML");
        if (!request.splitChapters) {
            open(request.output, request.tags);
            return;
        }
        // Every chapter's file is known now: one that cannot be written fails before any sound.
        for (const std::filesystem::path& file : plan.files) {
            OutputTarget::Options options;
            options.replaceExisting = request.replaceExisting;
            OutputTarget::checkBeforehand(file, options);
        }
    }

    // Starts the file of a chapter; its frames count from here.
    void beginChapter(const ChapterTiming& chapter) {
        if (!request_.splitChapters)
            return;
        if (!files_.empty())
            setAside(files_.back());
        SoundTags tags = request_.tags;
        // AU and raw PCM hold no tags: their files go untitled.
        const Container container = request_.container.value_or(containerForPath(request_.output));
        if (!chapter.title.empty() && holdsTags(container))
            tags.title = chapter.title;
        // Only the files checked beforehand are written.
        const std::size_t index = files_.size();
        if (index >= plan_.files.size() || plan_.chapters[index].number != chapter.number ||
            plan_.chapters[index].title != chapter.title)
            throw FileError(inputFailure("read", request_.input,
                                         "its chapters changed while it was being converted"));
        open(plan_.files[index], tags);
    }

    void write(std::span<const std::int16_t> samples) {
        if (files_.empty()) // split, and sound before any chapter: cannot happen with text
            throw FileError(outputFailure(request_.output, "no chapter to write the sound into",
                                          soundFileKind(chosenContainer(request_))));
        files_.back().writer.write(samples);
        frames_ += samples.size();
    }

    // A chunk's samples with its pauses in their places, each pause written as blocks of
    // zeros: however long, it never stands in memory whole.
    void write(const RenderedChunk& chunk) {
        const std::span<const std::int16_t> samples(chunk.samples);
        std::size_t written = 0;
        for (const RenderedChunk::Silence& silence : chunk.silences) {
            write(samples.subspan(written, silence.before - written));
            written = silence.before;
            static constexpr std::array<std::int16_t, 8192> zeros{};
            for (std::uint64_t left = silence.frames; left > 0;) {
                const auto take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
                write(std::span<const std::int16_t>(zeros.data(), take));
                left -= take;
            }
        }
        write(samples.subspan(written));
    }
    std::uint64_t frames() const { return frames_; }

    void addCuePoints(const std::vector<ChapterTiming>& chapters) {
        if (request_.splitChapters || files_.empty())
            return;
        std::vector<CuePoint> points;
        for (const ChapterTiming& chapter : chapters)
            if (chapter.number > 0)
                points.push_back({.name = chapter.title, .frame = chapter.headingFrame});
        if (!points.empty())
            files_.back().writer.setCuePoints(std::move(points));
    }

    void commit() {
        // A text without a sound still gets its one file.
        if (request_.splitChapters && files_.empty())
            beginChapter({});
        if (!request_.splitChapters) {
            for (File& file : files_) {
                file.writer.close();
                file.target.commit(request_.replaceExisting, request_.syncToDisk);
            }
            return;
        }
        // Every chapter complete, then all named together.
        setAside(files_.back());
        std::vector<PendingFile*> pending;
        for (File& file : files_)
            if (PendingFile* parked = file.target.pendingFile())
                pending.push_back(parked);
        PendingFile::nameTogether(pending, request_.replaceExisting, request_.syncToDisk, cancel_);
    }

    bool isFile() const { return files_.empty() || files_.front().target.isFile(); }
    std::vector<std::filesystem::path> paths() const {
        std::vector<std::filesystem::path> paths;
        if (request_.splitChapters)
            for (const File& file : files_)
                paths.push_back(file.path);
        return paths;
    }

private:
    // Must not move, as its pending file cannot: the deque below never moves its elements.
    struct File {
        File(const std::filesystem::path& path, const ConversionRequest& request,
             std::uint64_t expectedFrames, const SoundTags& tags, const std::atomic<bool>* cancel)
            : path(path), target(path, {request.replaceExisting, request.toStandardOutput,
                                        request.container, cancel}),
              writer(target.fd(), target.container(), request.format, path, expectedFrames, tags,
                     cancel) {}

        std::filesystem::path path;
        OutputTarget target;
        SoundFileWriter writer;
    };

    // A chapter's file once complete: closed, holding no descriptor until it is named.
    void setAside(File& file) const {
        file.writer.close();
        file.target.park(request_.syncToDisk);
    }

    void open(const std::filesystem::path& path, const SoundTags& tags) {
        files_.emplace_back(path, request_, expectedFrames_, tags, cancel_);
    }

    const ConversionRequest& request_;
    const ChapterPlan& plan_;
    std::uint64_t expectedFrames_;
    const std::atomic<bool>* cancel_;
    std::deque<File> files_;
    std::uint64_t frames_ = 0;
};

} // namespace

unsigned defaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned maximumJobs() {
    return 4 * defaultJobs();
}

ChapterPlan planChapters(const ConversionRequest& request) {
    ChapterPlan plan;
    if (request.controls.ssml || !(request.chapterPattern || request.splitChapters))
        return plan;
    TextFileReader reader(request.input, request.encoding);
    SpeechTimings timings;
    SentenceLedger ledger(request, reader, timings);
    TextChunker chunker = chunkerFor(true, request.voice);
    const auto settle = [&] {
        while (auto chunk = chunker.next())
            ledger.add(std::move(*chunk));
        std::size_t sentence = 0;
        while (ledger.next(sentence)) {
        }
        timings.sentences.clear(); // only the chapters are wanted
    };
    chunkText(reader, request, chunker, &ledger, settle);
    plan.chapters = std::move(timings.chapters);
    if (!request.splitChapters)
        return plan;
    // A text without a sound still gets its one file.
    if (plan.chapters.empty())
        plan.chapters.push_back({});
    const unsigned highest = plan.chapters.back().number;
    for (const ChapterTiming& chapter : plan.chapters)
        plan.files.push_back(
            chapterFilePath(request.output, chapter.number, chapter.title, highest));
    return plan;
}

void checkChapterPattern(std::string_view pattern) {
    HeadingFinder finder(pattern);
}

namespace {

// The files the conversion reads and writes: no two of them one file (renaming the finished
// sound onto the text, say, would destroy the text).
void checkPaths(const ConversionRequest& request, const ChapterPlan& plan) {
    ConversionPaths paths;
    paths.addRead("the text file", request.input);
    for (const std::filesystem::path& lexicon : request.controls.lexicons)
        paths.addRead("the lexicon", lexicon);
    if (request.toStandardOutput)
        paths.addStandardOutput("standard output");
    else if (!request.splitChapters)
        paths.addWritten("the sound file", request.output);
    for (const std::filesystem::path& file : plan.files)
        paths.addWritten("the chapter file", file);
    paths.check();
}

ConversionResult convert(const ConversionRequest& request, const ProgressCallback& progress,
                         const std::atomic<bool>* cancel) {
    // The chapters' files are known before anything is rendered, and so checked with the rest.
    const ChapterPlan plan = request.splitChapters ? planChapters(request) : ChapterPlan{};
    checkPaths(request, plan);
    // A bad line of a lexicon fails the conversion before anything is rendered.
    // A long list, or a FIFO with no writer, must not hold a stop signal off.
    std::optional<Lexicon> loaded;
    if (!request.lexicon)
        loaded.emplace(
            Lexicon::load(request.controls.lexicons, [&] { throwIfCancelled(cancel, request); }));
    const Lexicon& lexicon = request.lexicon ? *request.lexicon : *loaded;
    // Entries apply within one chunk, which ends at a sentence or paragraph end: a phrase
    // never matches across the cut.
    const auto pronounced = [&lexicon](std::string text) {
        return lexicon.empty() ? text : lexicon.apply(text);
    };
    TextFileReader reader(request.input, request.encoding);
    std::optional<Markup> markup;
    if (request.controls.ssml)
        markup = readMarkup(reader, request, lexicon);
    const std::uint64_t available =
        reader.totalCharacters() - std::min(reader.totalCharacters(), request.firstCharacter);
    const std::uint64_t total = std::max<std::uint64_t>(
        1, markup ? markup->characters
                  : std::min(available, request.characterCount.value_or(available)));

    // With 0 jobs too, every run is rendered in a child process: eSpeak NG keeps state from
    // one rendering to the next that nothing resets, so rendering in this process would make
    // the sound depend on what the process rendered before.
    const std::unique_ptr<RenderPipeline> pipeline =
        std::make_unique<WorkerPool>(request.voice, request.format.sampleRate,
                                     std::clamp(request.jobs, 1u, maximumJobs()), cancel, total);

    ConversionResult result;
    const bool timed = request.recordTimings || request.chapterPattern || request.splitChapters;
    SpeechTimings& timings = result.timings;
    timings.sampleRate = request.format.sampleRate;
    // Chapters are found in plain text; markup has its own structure.
    std::optional<SentenceLedger> ledger;
    if (timed && !markup)
        ledger.emplace(request, reader, timings);
    if (markup && request.chapterPattern && request.warning)
        request.warning("chapters are found in plain text only: the SSML document is one");

    SoundOutputs outputs(request, plan, expectedFrames(total, request.format), cancel);
    // The sentence of each task in the pipeline, in order: each task gives one rendered chunk.
    std::deque<std::size_t> sentencesInFlight;
    std::size_t chapterWritten = 0; // chapters whose sound has begun
    const auto write = [&](RenderedChunk chunk) {
        throwIfCancelled(cancel, request);
        for (auto& [name, offset] : chunk.marks)
            result.marks.emplace_back(std::move(name), outputs.frames() + offset);
        if (chunk.volume != 1.0)
            result.limitedSamples += applyGain(chunk.samples, chunk.volume);
        const std::size_t sentence = sentencesInFlight.front();
        sentencesInFlight.pop_front();
        if (sentence != RenderTask::noSentence) {
            SentenceTiming& timing = timings.sentences[sentence];
            const std::optional<std::pair<std::size_t, std::size_t>> span =
                ChunkRenderer::audibleSpan(chunk.samples);
            timing.firstFrame = outputs.frames() + (span ? frameOf(chunk, span->first) : 0);
            timing.lastFrame = outputs.frames() + (span ? frameOf(chunk, span->second) : 0);
            // The first sentence of a chapter begins it (and, split, its file).
            if (chapterWritten < timings.chapters.size() &&
                (chapterWritten == 0 ||
                 timing.chapter != timings.chapters[chapterWritten - 1].number)) {
                if (chapterWritten > 0)
                    timings.chapters[chapterWritten - 1].endFrame = outputs.frames();
                ChapterTiming& chapter = timings.chapters[chapterWritten++];
                chapter.startFrame = outputs.frames();
                chapter.headingFrame = timing.firstFrame;
                outputs.beginChapter(chapter);
            }
        }
        outputs.write(chunk);
        if (progress)
            progress(std::min(1.0, static_cast<double>(chunk.endCharacter) / total));
    };
    const auto submit = [&](RenderTask task) {
        throwIfCancelled(cancel, request);
        while (!pipeline->canSubmit())
            write(*pipeline->next(true));
        sentencesInFlight.push_back(task.sentence);
        pipeline->submit(std::move(task));
        while (auto rendered = pipeline->next(false))
            write(std::move(*rendered));
    };
    ChunkSequence sequence(pausesOf(request.controls), request.voice, submit);
    const Prosody asked = askedProsody(request.controls);
    // With timings, every sentence is a chunk of its own.
    TextChunker chunker = chunkerFor(timed, request.voice);
    const auto sequenceChunk = [&](TextChunk chunk, std::size_t sentence) {
        RenderTask task;
        task.text = pronounced(std::move(chunk.text));
        task.voice = request.voice;
        task.prosody = asked;
        task.endCharacter = chunk.endCharacter;
        task.sentence = sentence;
        sequence.addChunk(std::move(task), chunk.before);
    };
    const auto sequenceReadyChunks = [&] {
        while (auto chunk = chunker.next()) {
            if (ledger)
                ledger->add(std::move(*chunk));
            else
                sequenceChunk(std::move(*chunk), RenderTask::noSentence);
        }
        std::size_t sentence = RenderTask::noSentence;
        while (ledger) {
            std::optional<TextChunk> settled = ledger->next(sentence);
            if (!settled)
                break;
            sequenceChunk(std::move(*settled), sentence);
        }
    };

    if (progress)
        progress(0.0);
    if (markup)
        sequenceMarkup(*markup, request, sequence, timed ? &timings : nullptr);
    if (!markup)
        chunkText(reader, request, chunker, ledger ? &*ledger : nullptr, sequenceReadyChunks);
    sequence.finish();
    while (auto rendered = pipeline->next(true))
        write(std::move(*rendered));
    throwIfCancelled(cancel, request);
    timings.frames = outputs.frames();
    if (!timings.chapters.empty())
        timings.chapters.back().endFrame = outputs.frames();
    if (timed)
        for (const auto& [name, frame] : result.marks)
            timings.marks.push_back({.name = name, .frame = frame});
    outputs.addCuePoints(timings.chapters);
    outputs.commit();
    if (progress)
        progress(1.0);
    result.frames = outputs.frames();
    result.format = request.format;
    result.seconds = static_cast<double>(outputs.frames()) / request.format.sampleRate;
    result.textFile = reader.identity();
    result.wroteFile = outputs.isFile();
    result.chapterFiles = outputs.paths();
    return result;
}

} // namespace

ConversionResult convertTextFile(const ConversionRequest& asked, const ProgressCallback& progress,
                                 const std::atomic<bool>* cancel) {
    // Rendered at the rate the container is written at (Opus has no 22.05 kHz).
    ConversionRequest request = asked;
    request.format = writtenFormat(chosenContainer(asked), asked.format);
    try {
        return convert(request, progress, cancel);
    } catch (const ConversionCancelled&) {
        throw ConversionCancelled(outputFailure(request.output, "the conversion was cancelled",
                                                soundFileKind(chosenContainer(request))));
    } catch (const FileError&) {
        throw;
    } catch (const SpeechError& failure) {
        // The engines' failures: say which text they failed on.
        throw SpeechError("cannot render the text file " + quotedName(request.input.native()) +
                          ": " + failure.what());
    }
}

} // namespace kestrova::speech
