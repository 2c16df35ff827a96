#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace kestrova::speech {

// How the text is spoken, the same for every voice. The defaults change nothing: with them a
// conversion writes what it wrote before these controls existed.
struct VoiceControls {
    int ratePercent = 100;   // 100: the voice's own speed; 25 to 400
    int pitchPercent = 100;  // 100: the voice's own pitch; 50 to 200
    int volumePercent = 100; // 100: unchanged; 0 to 400, a gain on the samples
    // The silence between two sentences of a paragraph, and between two paragraphs, in
    // milliseconds; none: the engine's own pause.
    std::optional<int> sentencePauseMs;
    std::optional<int> paragraphPauseMs;
    // Pronunciation lists, later files winning over earlier ones.
    std::vector<std::filesystem::path> lexicons;
    // The text is SSML 1.1 markup rather than plain text.
    bool ssml = false;

    bool changesNothing() const {
        return ratePercent == 100 && pitchPercent == 100 && volumePercent == 100 &&
               !sentencePauseMs && !paragraphPauseMs && lexicons.empty() && !ssml;
    }
};

} // namespace kestrova::speech
