#pragma once

#include "speech/conversion/reading/planned_input.h"
#include "speech/converter.h"
#include "speech/voice.h"

namespace kestrova::speech {

// With registry (the voice is the library's to choose): where the input does not say its
// language, or says one no voice of registry speaks, the
// voice of the script most of its first letters are in (a text in Han is read by Mandarin's
// voice, not by English's letter by letter), and voiceChoice says so. A voice that cannot read
// a script the text holds (eSpeak NG's Japanese reads no kanji) is told of once, with the
// conversion's first warnings, whoever chose it. Plain text and structured documents; the
// request's own voice stays where nothing decides.
void adoptScriptVoice(ConversionRequest& request, ConversionPlan::Input& input,
                      const VoiceRegistry* registry);

} // namespace kestrova::speech
