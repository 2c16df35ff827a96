#pragma once

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

namespace kestrova::speech {

// What a voice control accepts, in percent of the voice's own; markup's prosody is held to the
// same range at every level of nesting.
struct PercentRange {
    int lowest;
    int highest;

    // A fraction of the voice's own (1: 100 percent) held to the range.
    double clamped(double fraction) const {
        return std::clamp(fraction, lowest / 100.0, highest / 100.0);
    }
};
inline constexpr PercentRange rateRange{.lowest = 25, .highest = 400};
inline constexpr PercentRange pitchRange{.lowest = 50, .highest = 200};
inline constexpr PercentRange volumeRange{.lowest = 0, .highest = 400};

// How the text is spoken, the same for every voice. The defaults change nothing: with them a
// conversion writes what it wrote before these controls existed.
struct VoiceControls {
    int ratePercent = 100;   // 100: the voice's own speed; within rateRange
    int pitchPercent = 100;  // 100: the voice's own pitch; within pitchRange
    int volumePercent = 100; // 100: unchanged; within volumeRange, a gain on the samples
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
