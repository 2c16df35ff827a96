#pragma once

#include "speech/text/script/speech_script.h"
#include "speech/voice.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {

// The pauses a conversion asks for, in milliseconds; none: the engine's own pause there.
struct PauseSettings {
    std::optional<int> sentenceMs;
    std::optional<int> paragraphMs;

    bool any() const { return sentenceMs || paragraphMs; }
};

// Where a sentence of several voices turns to another: from byte at of the task's text on,
// voice reads it.
struct VoiceChange {
    std::size_t at = 0;
    Voice voice;
};

// One chunk of speech as a worker renders it: its text, spoken with one voice and prosody,
// the pauses inside it, and how it meets its neighbours. Everything a chunk's samples depend
// on is here, so that a chunk sounds the same whichever process renders it.
struct RenderTask {
    std::string text; // may be empty: then the chunk is only its silence
    Voice voice;
    // In a sentence that holds a passage in another language, each voice after the first and
    // where it begins, in order: the parts are joined with no pause. Empty: voice reads it all.
    std::vector<VoiceChange> voiceChanges;
    Prosody prosody; // rate and pitch go to the engine; the volume is applied by the program
    PauseSettings pauses;
    // Where a pause of our own meets the chunk, the engine's silence at that edge goes.
    bool trimLeading = false;
    bool trimTrailing = false;
    std::int64_t trailingSilenceMs = 0;
    // Marks at the start of the chunk's sound.
    std::vector<std::string> marks;
    std::uint64_t endCharacter = 0; // how far the conversion has come with this chunk
    // The sentence of the conversion's timings that the chunk speaks: the converter's own
    // bookkeeping, never sent to a worker.
    static constexpr std::size_t noSentence = SIZE_MAX;
    std::size_t sentence = noSentence;
};

} // namespace kestrova::speech
