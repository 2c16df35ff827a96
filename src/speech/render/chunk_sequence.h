#pragma once

#include "speech/render/render_task.h"
#include "speech/text/script/text_chunker.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {

// Turns the chunks of a text's runs, the breaks between them and its marks into render tasks,
// in speaking order, deciding how each chunk meets the next: where a pause of our own applies
// (an explicit break, or a sentence or paragraph end with its pause set), the engine's silence
// on both sides goes and the chunk before it ends in exactly that much silence. The decision
// depends on the text alone, so the sound is the same for any number of workers. One chunk is
// held back until the next one shows how it ends.
class ChunkSequence {
public:
    using Submit = std::function<void(RenderTask)>;

    // voice: the voice of the chunks of silence alone (a break before any speech, marks after
    // the last).
    ChunkSequence(const PauseSettings& pauses, Voice voice, Submit submit);

    // before: what separates the chunk from the one before it within its run.
    void addChunk(RenderTask task, Boundary before = Boundary::None);
    void addBoundary(Boundary boundary);
    // Breaks in a row add up (in 64 bits: no sum of them wraps).
    void addBreak(std::int64_t milliseconds);
    void addMark(std::string name);
    void finish();

private:
    RenderTask silentTask() const;

    PauseSettings pauses_;
    Voice voice_;
    Submit submit_;
    std::optional<RenderTask> held_;
    Boundary boundary_ = Boundary::None;
    std::optional<std::int64_t> breakMs_;
    std::vector<std::string> marks_;
};

} // namespace kestrova::speech
