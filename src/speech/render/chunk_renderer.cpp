#include "chunk_renderer.h"

#include "speech/audio/resampler.h"

#include <algorithm>
#include <optional>

namespace kestrova::speech {

ChunkRenderer::ChunkRenderer(const Voice& voice, int outputRate)
    : synthesizer_(makeSynthesizer(voice)), outputRate_(outputRate) {}

ChunkRenderer::~ChunkRenderer() = default;
ChunkRenderer::ChunkRenderer(ChunkRenderer&&) noexcept = default;
ChunkRenderer& ChunkRenderer::operator=(ChunkRenderer&&) noexcept = default;

void ChunkRenderer::render(const std::string& text, const SampleSink& sink) {
    std::optional<Resampler> resampler;
    if (synthesizer_->sampleRate() != outputRate_)
        resampler.emplace(synthesizer_->sampleRate(), outputRate_);
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
    synthesizer_->synthesize(text, [&](std::span<const std::int16_t> part) {
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

std::vector<std::int16_t> ChunkRenderer::render(const std::string& text) {
    std::vector<std::int16_t> samples;
    render(text, [&samples](std::span<const std::int16_t> part) {
        samples.insert(samples.end(), part.begin(), part.end());
    });
    return samples;
}

} // namespace kestrova::speech
