#pragma once

#include "speech/engines/synthesizer.h"
#include "speech/render/render_pipeline.h"
#include "speech/render/render_task.h"
#include "speech/voice.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::speech {

using SilenceSink = std::function<void(std::uint64_t frames)>;

// Renders one chunk into mono 16-bit samples at the output rate: the engine's rendering,
// resampled on its own. Each chunk is rendered alone, from a fresh resampler, so a chunk's
// samples never depend on what came before it nor on which worker took it.
class ChunkRenderer {
public:
    // voice: the conversion's own, made ready at once; a chunk of another voice makes that
    // voice's synthesizer when it comes.
    ChunkRenderer(const Voice& voice, int outputRate);
    ~ChunkRenderer();
    ChunkRenderer(ChunkRenderer&&) noexcept;
    ChunkRenderer& operator=(ChunkRenderer&&) noexcept;

    // Hands the chunk's samples to sink in blocks of at most blockSamples, as they come, and
    // each of its pauses to silence as a count of frames, in their place among the samples.
    void render(const RenderTask& task, const SampleSink& sink, const SilenceSink& silence);
    // The chunk's samples and pauses all at once, added to chunk.
    void render(const RenderTask& task, RenderedChunk& chunk);
    // What every voice holds outside the process, let go once its run is rendered
    // (Synthesizer::release).
    void releaseVoices();

    static constexpr std::size_t blockSamples = 1 << 15;
    // Below −50 dBFS a sample counts as the engine's silence, which our own pauses replace.
    static constexpr int silenceThreshold = 103;
    // The first and last sample at or above the threshold, if any is.
    static std::optional<std::pair<std::size_t, std::size_t>>
    audibleSpan(std::span<const std::int16_t> samples);

private:
    Synthesizer& synthesizerFor(const Voice& voice);
    void stream(Synthesizer& synthesizer, const std::string& text, const SampleSink& sink);
    void renderInPieces(Synthesizer& synthesizer, const RenderTask& task, const SampleSink& sink,
                        const SilenceSink& silence);
    void renderVoices(const RenderTask& task, const SampleSink& sink);
    void silence(std::int64_t milliseconds, const SilenceSink& sink) const;

    std::map<std::pair<EngineKind, std::string>, std::unique_ptr<Synthesizer>> synthesizers_;
    int outputRate_;
    std::vector<std::int16_t> block_;
};

} // namespace kestrova::speech
