#pragma once

#include "speech/text/text_chunker.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrova::speech {

struct RenderedChunk {
    std::vector<std::int16_t> samples;
    std::uint64_t endCharacter;
};

// Takes chunks in text order and gives back their samples in the same order.
class RenderPipeline {
public:
    virtual ~RenderPipeline() = default;
    // False while the pipeline holds as many chunks as it may: take one out first.
    virtual bool canSubmit() const = 0;
    virtual void submit(TextChunk chunk) = 0;
    // The next chunk in text order: if it is not ready yet, waits for it when wait is set
    // and returns nothing otherwise. Returns nothing too once every chunk was taken out.
    virtual std::optional<RenderedChunk> next(bool wait) = 0;
};

} // namespace kestrova::speech
