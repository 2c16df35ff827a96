#pragma once

#include "speech/engines/synthesizer.h"
#include "speech/voice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::speech {

// Renders one chunk of text into mono 16-bit samples at the output rate: the engine's
// rendering, resampled on its own. Each chunk is rendered alone, from a fresh resampler,
// so a chunk's samples never depend on what came before it nor on which worker took it.
class ChunkRenderer {
public:
    ChunkRenderer(const Voice& voice, int outputRate);
    ~ChunkRenderer();
    ChunkRenderer(ChunkRenderer&&) noexcept;
    ChunkRenderer& operator=(ChunkRenderer&&) noexcept;

    // Hands the chunk's samples to sink in blocks of at most blockSamples, as they come.
    void render(const std::string& text, const SampleSink& sink);
    // The chunk's samples all at once.
    std::vector<std::int16_t> render(const std::string& text);

    static constexpr std::size_t blockSamples = 1 << 15;

private:
    std::unique_ptr<Synthesizer> synthesizer_;
    int outputRate_;
    std::vector<std::int16_t> block_;
};

} // namespace kestrova::speech
