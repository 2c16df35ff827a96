#include "converter.h"

#include "speech/audio/output_target.h"
#include "speech/audio/pending_file.h"
#include "speech/audio/sample_gain.h"
#include "speech/audio/sound_file_writer.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/render/chunk_sequence.h"
#include "speech/render/serial_pipeline.h"
#include "speech/render/worker_pool.h"
#include "speech/speech_error.h"
#include "speech/text/lexicon.h"
#include "speech/text/ssml_reader.h"
#include "speech/text/text_chunker.h"
#include "speech/text/text_file_reader.h"
#include "speech/text/text_measures.h"

#include <algorithm>
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
        return begin == std::string_view::npos ? std::string_view{}
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

void throwIfCancelled(const std::atomic<bool>* cancel, const std::filesystem::path& output) {
    if (cancel && cancel->load())
        throw ConversionCancelled(outputFailure(output, "the conversion was cancelled"));
}

// The prosody the controls ask for, as fractions of the voice's own.
Prosody askedProsody(const VoiceControls& controls) {
    return {controls.ratePercent / 100.0, controls.pitchPercent / 100.0,
            controls.volumePercent / 100.0};
}

PauseSettings pausesOf(const VoiceControls& controls) {
    return {controls.sentencePauseMs, controls.paragraphPauseMs};
}

// Markup's prosody is relative to what the options ask for.
Prosody combined(const Prosody& asked, const Prosody& run) {
    // Held to the ranges the options accept, as each level of markup is.
    return {std::clamp(asked.rate * run.rate, 0.25, 4.0),
            std::clamp(asked.pitch * run.pitch, 0.5, 2.0), asked.volume * run.volume};
}

std::uint64_t characterCount(std::string_view text) {
    return static_cast<std::uint64_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !isContinuationByte(c); }));
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
    std::string document;
    std::string decoded;
    while ((decoded.clear(), reader.read(decoded))) {
        if (document.size() + decoded.size() > ssmlMaxBytes)
            throw FileError(inputFailure("read", request.input,
                                         "an SSML document may be at most " +
                                             std::to_string(ssmlMaxBytes >> 20) + " MiB"));
        document += decoded;
    }
    Markup markup;
    try {
        markup.script = readSsml(document, request.input.native(), request.warning);
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
void sequenceMarkup(const Markup& markup, const ConversionRequest& request,
                    ChunkSequence& sequence) {
    const Prosody asked = askedProsody(request.controls);
    std::uint64_t spoken = 0;
    for (const SpeechItem& item : markup.script) {
        if (const auto* run = std::get_if<SpeechRun>(&item)) {
            const Voice& voice =
                run->voiceName.empty() ? request.voice : markup.voices.at(run->voiceName);
            TextChunker chunker;
            chunker.push(run->text);
            chunker.finish();
            while (auto chunk = chunker.next()) {
                RenderTask task;
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
        } else {
            sequence.addMark(std::get<SpeechMark>(item).name);
        }
    }
}

} // namespace

unsigned defaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned maximumJobs() {
    return 4 * defaultJobs();
}

namespace {

ConversionResult convert(const ConversionRequest& request, const ProgressCallback& progress,
                         const std::atomic<bool>* cancel) {
    // Renaming the finished file onto the text file would destroy the text.
    if (!request.toStandardOutput)
        refuseOutputOverInput(request.input, request.output);
    // A bad line of a lexicon fails the conversion before anything is rendered.
    const Lexicon lexicon = Lexicon::load(request.controls.lexicons);
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

    std::unique_ptr<RenderPipeline> pipeline;
    if (request.jobs == 0)
        pipeline = std::make_unique<SerialPipeline>(request.voice, request.format.sampleRate);
    else
        pipeline =
            std::make_unique<WorkerPool>(request.voice, request.format.sampleRate,
                                         std::min(request.jobs, maximumJobs()), cancel, total);

    OutputTarget target(request.output, {request.replaceExisting, request.toStandardOutput,
                                         request.container, cancel});
    SoundFileWriter writer(target.fd(), target.container(), request.format, request.output,
                           expectedFrames(total, request.format), request.tags);
    ConversionResult result;
    const auto write = [&](RenderedChunk chunk) {
        throwIfCancelled(cancel, request.output);
        for (auto& [name, offset] : chunk.marks)
            result.marks.emplace_back(std::move(name), writer.framesWritten() + offset);
        if (chunk.volume != 1.0)
            result.limitedSamples += applyGain(chunk.samples, chunk.volume);
        writer.write(chunk.samples);
        if (progress)
            progress(std::min(1.0, static_cast<double>(chunk.endCharacter) / total));
    };
    const auto submit = [&](RenderTask task) {
        throwIfCancelled(cancel, request.output);
        while (!pipeline->canSubmit())
            write(*pipeline->next(true));
        pipeline->submit(std::move(task));
        while (auto rendered = pipeline->next(false))
            write(std::move(*rendered));
    };
    ChunkSequence sequence(pausesOf(request.controls), request.voice, submit);
    const Prosody asked = askedProsody(request.controls);
    TextChunker chunker;
    const auto sequenceReadyChunks = [&] {
        while (auto chunk = chunker.next()) {
            RenderTask task;
            task.text = pronounced(std::move(chunk->text));
            task.voice = request.voice;
            task.prosody = asked;
            task.endCharacter = chunk->endCharacter;
            sequence.addChunk(std::move(task), chunk->before);
        }
    };

    if (progress)
        progress(0.0);
    if (markup)
        sequenceMarkup(*markup, request, sequence);
    CharacterWindow window(request.firstCharacter, request.characterCount);
    std::string decoded;
    while (!markup && !window.done() && (decoded.clear(), reader.read(decoded))) {
        const std::string_view kept = window.take(decoded);
        // Small slices keep the chunker's own buffer short.
        constexpr std::size_t slice = 4096;
        for (std::size_t at = 0; at < kept.size(); at += slice) {
            chunker.push(kept.substr(at, slice));
            sequenceReadyChunks();
        }
    }
    chunker.finish();
    sequenceReadyChunks();
    sequence.finish();
    while (auto rendered = pipeline->next(true))
        write(std::move(*rendered));
    throwIfCancelled(cancel, request.output);
    writer.close();
    target.commit(request.replaceExisting, request.syncToDisk);
    if (progress)
        progress(1.0);
    result.frames = writer.framesWritten();
    result.seconds = static_cast<double>(writer.framesWritten()) / request.format.sampleRate;
    result.textFile = reader.identity();
    result.wroteFile = target.isFile();
    return result;
}

} // namespace

ConversionResult convertTextFile(const ConversionRequest& request, const ProgressCallback& progress,
                                 const std::atomic<bool>* cancel) {
    try {
        return convert(request, progress, cancel);
    } catch (const ConversionCancelled&) {
        throw ConversionCancelled(outputFailure(request.output, "the conversion was cancelled"));
    } catch (const FileError&) {
        throw;
    } catch (const SpeechError& failure) {
        // The engines' failures: say which text they failed on.
        throw SpeechError("cannot render the text file " + quotedName(request.input.native()) +
                          ": " + failure.what());
    }
}

} // namespace kestrova::speech
