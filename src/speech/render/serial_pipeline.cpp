#include "serial_pipeline.h"

#include <utility>

namespace kestrova::speech {

SerialPipeline::SerialPipeline(const Voice& voice, int outputRate) : renderer_(voice, outputRate) {}

void SerialPipeline::submit(RenderTask task) {
    RenderedChunk chunk = renderedShell(task);
    renderer_.render(task, chunk);
    ready_ = std::move(chunk);
}

std::optional<RenderedChunk> SerialPipeline::next(bool) {
    return std::exchange(ready_, std::nullopt);
}

} // namespace kestrova::speech
