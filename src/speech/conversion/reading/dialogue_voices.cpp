#include "speech/conversion/reading/dialogue_voices.h"

#include <algorithm>

namespace kestrova::speech {
namespace {

// Appends the block's voices over bytes [begin, end): the voice already reading at begin, then
// each that starts before end.
void appendNarration(const std::vector<VoiceStart>& blockVoices, std::size_t begin, std::size_t end,
                     std::vector<VoiceStart>& out) {
    if (begin >= end)
        return;
    auto voice = std::upper_bound(
        blockVoices.begin(), blockVoices.end(), begin,
        [](std::size_t value, const VoiceStart& start) { return value < start.at; });
    if (voice != blockVoices.begin())
        --voice;
    out.push_back({.at = begin, .voice = voice->voice});
    for (++voice; voice != blockVoices.end() && voice->at < end; ++voice)
        out.push_back(*voice);
}

} // namespace

std::vector<VoiceStart> withDialogueVoice(const std::vector<VoiceStart>& blockVoices,
                                          const std::vector<DialogueSpan>& spans,
                                          std::size_t textSize, const Voice& dialogueVoice) {
    if (spans.empty())
        return blockVoices;
    std::vector<VoiceStart> voices;
    std::size_t at = 0;
    for (const DialogueSpan& span : spans) {
        appendNarration(blockVoices, at, span.begin, voices);
        if (span.begin < span.end)
            voices.push_back({.at = span.begin, .voice = &dialogueVoice});
        at = std::max(at, span.end);
    }
    appendNarration(blockVoices, at, textSize, voices);
    const auto same = std::unique(voices.begin(), voices.end(),
                                  [](const auto& a, const auto& b) { return a.voice == b.voice; });
    voices.erase(same, voices.end());
    return voices;
}

} // namespace kestrova::speech
