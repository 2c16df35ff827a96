#include "chunk_renderer.h"

#include "resampler.h"

#include <optional>

namespace kestrova::speech {

ChunkRenderer::ChunkRenderer(const Voice& voice, int outputRate)
    : synthesizer_(makeSynthesizer(voice)), outputRate_(outputRate) {}

ChunkRenderer::~ChunkRenderer() = default;
ChunkRenderer::ChunkRenderer(ChunkRenderer&&) noexcept = default;
ChunkRenderer& ChunkRenderer::operator=(ChunkRenderer&&) noexcept = default;

std::vector<std::int16_t> ChunkRenderer::render(const std::string& text) {
    std::vector<std::int16_t> samples;
    // Room for slow speech up front: untouched capacity costs nothing, while growing by
    // copies would touch every page again.
    constexpr std::size_t slowCharactersPerSecond = 8;
    samples.reserve(text.size() * static_cast<std::size_t>(outputRate_) / slowCharactersPerSecond);
    std::optional<Resampler> resampler;
    if (synthesizer_->sampleRate() != outputRate_)
        resampler.emplace(synthesizer_->sampleRate(), outputRate_);
    const auto append = [&samples](std::span<const std::int16_t> part) {
        samples.insert(samples.end(), part.begin(), part.end());
    };
    synthesizer_->synthesize(text, [&](std::span<const std::int16_t> part) {
        append(resampler ? resampler->process(part) : part);
    });
    if (resampler)
        append(resampler->flush());
    return samples;
}

} // namespace kestrova::speech
