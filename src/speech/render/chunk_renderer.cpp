#include "chunk_renderer.h"

#include "speech/audio/processing/resampler.h"
#include "speech/text/script/text_chunker.h"
#include "speech/text/script/unicode_breaks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace kestrova::speech {
namespace {

// A stretch of a chunk's text rendered in one call, and the pause of our own after it.
struct Piece {
    std::string text;
    std::optional<int> pauseAfterMs;
};

// Cuts a chunk's text where the pauses of our own go: at the sentence ends when a sentence
// pause is set, at the paragraph ends (blank lines) when a paragraph pause is. Between the
// cuts the engine keeps its own pauses. Sentences end by the conventions of the voice's
// language.
std::vector<Piece> piecesOf(const std::string& text, const PauseSettings& pauses,
                            const std::string& language) {
    std::vector<Piece> pieces(1);
    bool started = false;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find("\n\n", start), text.size());
        TextChunker sentences(1, TextChunker::defaultLimitBytes, language);
        sentences.push(std::string_view(text).substr(start, end - start));
        sentences.finish();
        bool paragraphStart = true;
        while (auto sentence = sentences.next()) {
            if (started) {
                const std::optional<int> pause =
                    paragraphStart ? pauses.paragraphMs : pauses.sentenceMs;
                if (pause) {
                    pieces.back().pauseAfterMs = pause;
                    pieces.emplace_back();
                } else {
                    pieces.back().text += paragraphStart ? "\n\n" : " ";
                }
            }
            pieces.back().text += sentence->text;
            started = true;
            paragraphStart = false;
        }
        start = end + 2;
    }
    return pieces;
}

std::span<const std::int16_t> trimmed(std::span<const std::int16_t> samples, bool leading,
                                      bool trailing) {
    if (!leading && !trailing)
        return samples;
    const auto span = ChunkRenderer::audibleSpan(samples);
    if (!span)
        return {};
    const std::size_t begin = leading ? span->first : 0;
    const std::size_t end = trailing ? span->second + 1 : samples.size();
    return samples.subspan(begin, end - begin);
}

// Bytes [begin, end) of text without the spaces at their edges; empty where they are out of
// the text's range.
std::string trimmedText(const std::string& text, std::size_t begin, std::size_t end) {
    end = std::min(end, text.size());
    if (begin >= end)
        return {};
    const std::string_view part = std::string_view(text).substr(begin, end - begin);
    const std::size_t first = part.find_first_not_of(" \n");
    if (first == std::string_view::npos)
        return {};
    return std::string(part.substr(first, part.find_last_not_of(" \n") + 1 - first));
}

void inBlocks(std::span<const std::int16_t> samples, const SampleSink& sink) {
    for (std::size_t at = 0; at < samples.size(); at += ChunkRenderer::blockSamples)
        sink(samples.subspan(at, std::min(ChunkRenderer::blockSamples, samples.size() - at)));
}

} // namespace

std::optional<std::pair<std::size_t, std::size_t>>
ChunkRenderer::audibleSpan(std::span<const std::int16_t> samples) {
    const auto audible = [](std::int16_t sample) {
        return std::abs(static_cast<int>(sample)) >= silenceThreshold;
    };
    const auto first = std::find_if(samples.begin(), samples.end(), audible);
    if (first == samples.end())
        return std::nullopt;
    const auto last = std::find_if(samples.rbegin(), samples.rend(), audible);
    return std::pair{static_cast<std::size_t>(first - samples.begin()),
                     static_cast<std::size_t>(samples.rend() - last - 1)};
}

ChunkRenderer::ChunkRenderer(const Voice& voice, int outputRate) : outputRate_(outputRate) {
    synthesizerFor(voice);
}

ChunkRenderer::~ChunkRenderer() = default;
ChunkRenderer::ChunkRenderer(ChunkRenderer&&) noexcept = default;
ChunkRenderer& ChunkRenderer::operator=(ChunkRenderer&&) noexcept = default;

void ChunkRenderer::releaseVoices() {
    for (auto& [voice, synthesizer] : synthesizers_)
        synthesizer->release();
}

Synthesizer& ChunkRenderer::synthesizerFor(const Voice& voice) {
    std::unique_ptr<Synthesizer>& synthesizer = synthesizers_[{voice.engine, voice.engineVoice}];
    if (!synthesizer)
        synthesizer = makeSynthesizer(voice);
    return *synthesizer;
}

void ChunkRenderer::render(const RenderTask& task, const SampleSink& sink,
                           const SilenceSink& silenceSink) {
    if (!task.voiceChanges.empty()) {
        renderVoices(task, sink);
        silence(task.trailingSilenceMs, silenceSink);
        return;
    }
    Synthesizer& synthesizer = synthesizerFor(task.voice);
    synthesizer.setProsody(task.prosody.rate, task.prosody.pitch);
    if (task.pauses.any() || task.trimLeading || task.trimTrailing)
        renderInPieces(synthesizer, task, sink, silenceSink);
    else if (!task.text.empty())
        stream(synthesizer, task.text, sink);
    silence(task.trailingSilenceMs, silenceSink);
}

// The whole text in one call, its samples passed on as they come.
void ChunkRenderer::stream(Synthesizer& synthesizer, const std::string& text,
                           const SampleSink& sink) {
    std::optional<Resampler> resampler;
    if (synthesizer.sampleRate() != outputRate_)
        resampler.emplace(synthesizer.sampleRate(), outputRate_);
    // The engines hand over their samples in small buffers; gathering them into blocks
    // spares the resampler and the receiver a call for each.
    block_.clear();
    block_.reserve(blockSamples);
    const auto passOn = [&] {
        if (block_.empty())
            return;
        const std::span<const std::int16_t> out =
            resampler ? resampler->process(block_) : std::span<const std::int16_t>(block_);
        if (!out.empty())
            sink(out);
        block_.clear();
    };
    synthesizer.synthesize(text, [&](std::span<const std::int16_t> part) {
        while (!part.empty()) {
            const std::size_t take = std::min(part.size(), blockSamples - block_.size());
            block_.insert(block_.end(), part.begin(),
                          part.begin() + static_cast<std::ptrdiff_t>(take));
            part = part.subspan(take);
            if (block_.size() == blockSamples)
                passOn();
        }
    });
    passOn();
    if (resampler) {
        const std::span<const std::int16_t> tail = resampler->flush();
        if (!tail.empty())
            sink(tail);
    }
}

// Each piece in a call of its own, the engine's silence at its edges replaced by ours. A
// piece is a sentence or a paragraph at most, so holding its samples whole costs little.
void ChunkRenderer::renderInPieces(Synthesizer& synthesizer, const RenderTask& task,
                                   const SampleSink& sink, const SilenceSink& silenceSink) {
    const std::vector<Piece> pieces = piecesOf(task.text, task.pauses, task.voice.language);
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        samples.clear();
        if (!pieces[i].text.empty())
            stream(synthesizer, pieces[i].text, [&samples](std::span<const std::int16_t> part) {
                samples.insert(samples.end(), part.begin(), part.end());
            });
        inBlocks(
            trimmed(samples, i > 0 || task.trimLeading, i + 1 < pieces.size() || task.trimTrailing),
            sink);
        silence(pieces[i].pauseAfterMs.value_or(0), silenceSink);
    }
}

// A sentence of several voices: each part in a call of its own with its voice, the engines'
// silence at the inner joins taken out so that the sentence runs on as one (after a comma
// the engine's own pause stays).
void ChunkRenderer::renderVoices(const RenderTask& task, const SampleSink& sink) {
    std::vector<std::int16_t> samples;
    const std::size_t parts = task.voiceChanges.size() + 1;
    for (std::size_t i = 0; i < parts; ++i) {
        const Voice& voice = i == 0 ? task.voice : task.voiceChanges[i - 1].voice;
        const std::size_t begin = i == 0 ? 0 : task.voiceChanges[i - 1].at;
        const std::size_t end = i + 1 < parts ? task.voiceChanges[i].at : task.text.size();
        const std::string text = trimmedText(task.text, begin, end);
        samples.clear();
        if (!text.empty()) {
            Synthesizer& synthesizer = synthesizerFor(voice);
            synthesizer.setProsody(task.prosody.rate, task.prosody.pitch);
            stream(synthesizer, text, [&samples](std::span<const std::int16_t> part) {
                samples.insert(samples.end(), part.begin(), part.end());
            });
        }
        // A part that ends at a comma or the like keeps the engine's pause after it, which is
        // that mark's pause inside a sentence.
        const bool trailing = i + 1 < parts ? !endsAtClauseMark(text) : task.trimTrailing;
        inBlocks(trimmed(samples, i > 0 || task.trimLeading, trailing), sink);
    }
}

void ChunkRenderer::silence(std::int64_t milliseconds, const SilenceSink& sink) const {
    const auto frames = static_cast<std::uint64_t>(std::llround(
        static_cast<double>(std::max<std::int64_t>(milliseconds, 0)) * outputRate_ / 1000.0));
    if (frames > 0)
        sink(frames);
}

void ChunkRenderer::render(const RenderTask& task, RenderedChunk& chunk) {
    render(
        task, [&chunk](std::span<const std::int16_t> part) { chunk.samples.append(part); },
        [&chunk](std::uint64_t frames) {
            chunk.silences.push_back({chunk.samples.size(), frames});
        });
}

} // namespace kestrova::speech
