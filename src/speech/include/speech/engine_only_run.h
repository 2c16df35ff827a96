#pragma once

#include "speech/voice.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::speech {

class Synthesizer;

// The engine alone on a text, for bench/engine_time: the text cut into the chunks a
// conversion renders, handed straight to the voice with the samples thrown away. What a full
// conversion takes beyond this is the converter's own work around the engine.
class EngineOnlyRun {
public:
    // Reads and chunks the whole text and loads the voice: nothing of this is in render().
    EngineOnlyRun(const Voice& voice, const std::filesystem::path& textFile);
    ~EngineOnlyRun();
    EngineOnlyRun(const EngineOnlyRun&) = delete;
    EngineOnlyRun& operator=(const EngineOnlyRun&) = delete;

    std::size_t chunkCount() const { return chunks_.size(); }
    // Renders every chunk; returns the number of samples the voice made.
    std::uint64_t render();

private:
    std::vector<std::string> chunks_;
    std::unique_ptr<Synthesizer> synthesizer_;
};

} // namespace kestrova::speech
