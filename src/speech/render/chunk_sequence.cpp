#include "chunk_sequence.h"

#include <algorithm>
#include <utility>

namespace kestrova::speech {

ChunkSequence::ChunkSequence(const PauseSettings& pauses, Voice voice, Submit submit)
    : pauses_(pauses), voice_(std::move(voice)), submit_(std::move(submit)) {}

RenderTask ChunkSequence::silentTask() const {
    RenderTask task;
    task.voice = voice_;
    task.endCharacter = held_ ? held_->endCharacter : 0;
    return task;
}

void ChunkSequence::addChunk(RenderTask task, Boundary before) {
    boundary_ = std::max(boundary_, before);
    task.pauses = pauses_;
    task.marks = std::exchange(marks_, {});
    if (held_) {
        // An explicit break wins over the sentence or paragraph end it stands at.
        const std::optional<std::int64_t> pause =
            breakMs_                           ? breakMs_
            : boundary_ == Boundary::Paragraph ? std::optional<std::int64_t>(pauses_.paragraphMs)
            : boundary_ == Boundary::Sentence  ? std::optional<std::int64_t>(pauses_.sentenceMs)
                                               : std::nullopt;
        if (pause) {
            held_->trimTrailing = true;
            held_->trailingSilenceMs = *pause;
            task.trimLeading = true;
        }
        submit_(std::move(*held_));
    }
    held_ = std::move(task);
    boundary_ = Boundary::None;
    breakMs_.reset();
}

void ChunkSequence::addBoundary(Boundary boundary) {
    boundary_ = std::max(boundary_, boundary);
}

void ChunkSequence::addBreak(std::int64_t milliseconds) {
    // A break before any speech is a chunk of silence of its own.
    if (!held_)
        held_ = silentTask();
    breakMs_ = breakMs_.value_or(0) + milliseconds;
}

void ChunkSequence::addMark(std::string name) {
    marks_.push_back(std::move(name));
}

void ChunkSequence::finish() {
    // A break or marks after the last speech: a silent chunk ends the sound and carries them.
    if (breakMs_ || !marks_.empty())
        addChunk(silentTask());
    if (held_)
        submit_(std::move(*held_));
    held_.reset();
}

} // namespace kestrova::speech
