#include "chunk_renderer.h"

#include "resampler.h"

namespace kestrova::speech {

ChunkRenderer::ChunkRenderer(const Voice& voice, int outputRate)
    : synthesizer_(makeSynthesizer(voice)), outputRate_(outputRate) {}

ChunkRenderer::~ChunkRenderer() = default;
ChunkRenderer::ChunkRenderer(ChunkRenderer&&) noexcept = default;
ChunkRenderer& ChunkRenderer::operator=(ChunkRenderer&&) noexcept = default;

std::vector<std::int16_t> ChunkRenderer::render(const std::string& text) {
    // Room for slow speech up front: untouched capacity costs nothing, while growing by
    // copies would touch every page again.
    constexpr std::size_t slowCharactersPerSecond = 8;
    const auto room = [&](int rate) {
        return text.size() * static_cast<std::size_t>(rate) / slowCharactersPerSecond;
    };
    std::vector<std::int16_t> native;
    native.reserve(room(synthesizer_->sampleRate()));
    synthesizer_->synthesize(text, [&native](std::span<const std::int16_t> part) {
        native.insert(native.end(), part.begin(), part.end());
    });
    if (synthesizer_->sampleRate() == outputRate_)
        return native;
    // The whole chunk in one pass: the engines hand over their samples in small buffers,
    // and the resampler pays a price for every call.
    Resampler resampler(synthesizer_->sampleRate(), outputRate_);
    std::vector<std::int16_t> samples;
    samples.reserve(room(outputRate_));
    const auto resampled = resampler.process(native);
    samples.insert(samples.end(), resampled.begin(), resampled.end());
    const auto tail = resampler.flush(); // the filter's last samples; resampled is gone now
    samples.insert(samples.end(), tail.begin(), tail.end());
    return samples;
}

} // namespace kestrova::speech
