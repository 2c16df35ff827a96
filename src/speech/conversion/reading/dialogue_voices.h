#pragma once

#include "speech/conversion/reading/sentence_voices.h"
#include "speech/text/dialogue/quoted_speech.h"
#include "speech/voice.h"

#include <cstddef>
#include <vector>

namespace kestrova::speech {

// A block's voices with its quoted speech read by dialogueVoice: inside each span the dialogue
// voice, whatever language a passage there is in; outside, the block's own voices. The
// result starts at 0 and has no voice following itself.
std::vector<VoiceStart> withDialogueVoice(const std::vector<VoiceStart>& blockVoices,
                                          const std::vector<DialogueSpan>& spans,
                                          std::size_t textSize, const Voice& dialogueVoice);

} // namespace kestrova::speech
