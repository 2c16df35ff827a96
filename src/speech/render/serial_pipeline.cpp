#include "serial_pipeline.h"

#include <utility>

namespace kestrova::speech {

SerialPipeline::SerialPipeline(const Voice& voice, int outputRate) : renderer_(voice, outputRate) {}

void SerialPipeline::submit(TextChunk chunk) {
    ready_ = RenderedChunk{renderer_.render(chunk.text), chunk.endCharacter};
}

std::optional<RenderedChunk> SerialPipeline::next(bool) {
    return std::exchange(ready_, std::nullopt);
}

} // namespace kestrova::speech
