#pragma once

#include "speech/render/chunk_renderer.h"
#include "speech/render/render_pipeline.h"

namespace kestrova::speech {

// Renders each chunk in this process as it is submitted.
class SerialPipeline : public RenderPipeline {
public:
    SerialPipeline(const Voice& voice, int outputRate);

    bool canSubmit() const override { return !ready_; }
    void submit(RenderTask task) override;
    std::optional<RenderedChunk> next(bool wait) override;

private:
    ChunkRenderer renderer_;
    std::optional<RenderedChunk> ready_;
};

} // namespace kestrova::speech
