#pragma once

#include "speech/render/chunk_samples.h"
#include "speech/render/render_task.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::speech {

struct RenderedChunk {
    ChunkSamples samples; // at the output rate, before the volume
    // The chunk's pauses of our own, kept as counts of silent frames rather than samples (an
    // hour of them would take hundreds of megabytes): each comes before samples[before], in
    // order, and is written out by the writing side in blocks of zeros.
    struct Silence {
        std::size_t before = 0;
        std::uint64_t frames = 0;
    };
    std::vector<Silence> silences;
    std::uint64_t endCharacter = 0;
    // The marks in the chunk, each with its sample offset within it.
    std::vector<std::pair<std::string, std::uint64_t>> marks;
    double volume = 1.0; // the gain the chunk's run asks for
    std::string keptKey; // its name among the chunks kept for a resume; empty: none are
};

// What a rendered chunk carries along from its task besides the samples.
inline RenderedChunk renderedShell(const RenderTask& task) {
    RenderedChunk chunk;
    chunk.endCharacter = task.endCharacter;
    for (const std::string& mark : task.marks)
        chunk.marks.emplace_back(mark, 0);
    chunk.volume = task.prosody.volume;
    return chunk;
}

// Takes chunks in text order and gives back their samples in the same order.
class RenderPipeline {
public:
    virtual ~RenderPipeline() = default;
    // False while the pipeline holds as many chunks as it may: take one out first.
    virtual bool canSubmit() const = 0;
    virtual void submit(RenderTask task) = 0;
    // The next chunk in text order: if it is not ready yet, waits for it when wait is set
    // and returns nothing otherwise. Returns nothing too once every chunk was taken out.
    virtual std::optional<RenderedChunk> next(bool wait) = 0;
};

} // namespace kestrova::speech
