#pragma once

#include "speech/render/render_task.h"
#include "speech/voice.h"

#include <string>

namespace kestrova::speech {

// Names each chunk of a run by everything its samples depend on: the voice and rate its
// worker starts with, the engines' versions, the layout of the chunk files, the task as the
// worker reads it, and the tasks before it in its run, since an engine carries state from one
// chunk of a run into the next. A hex SHA-256, so that no two renderings share a name.
class ChunkKey {
public:
    ChunkKey(const Voice& voice, int outputRate);

    // The key of the run's next chunk; startsRun: the chunk begins a run.
    std::string next(const RenderTask& task, bool startsRun);
    // Whether the chunk's samples depend on the chunks before it in its run: a built-in
    // engine reads it. A voice command is a fresh process for each chunk.
    static bool dependsOnRun(const RenderTask& task);

    // Bumped whenever the chunk files or what the worker renders change their meaning.
    static constexpr const char* layoutVersion = "kestrova rendered chunk 2";

private:
    std::string setting_;  // the part every chunk of the conversion shares
    std::string previous_; // the key of the run's chunk before, empty at a run's start
};

} // namespace kestrova::speech
