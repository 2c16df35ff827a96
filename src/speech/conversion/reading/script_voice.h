#pragma once

#include "speech/conversion/reading/planned_input.h"
#include "speech/converter.h"
#include "speech/text/script/writing_script.h"
#include "speech/voice.h"

#include <optional>

// Where the input does not say its language, or says one no voice speaks, the voice of the
// script most of its first letters are in: a text in Han is read by Mandarin's voice, not by
// English's as "Chinese letter" for each character. A voice that cannot read a script the text
// holds (eSpeak NG's Japanese reads no kanji) is told of once, with the conversion's first
// warnings, whoever chose it. Plain text and structured documents.
namespace kestrova::speech {

// Enough letters to know a text's script by, from its first paragraphs: a title page or a
// preface in another script weighs little against them.
inline constexpr std::size_t scriptSampleLetters = 2000;

// Whether the script of the text has anything to decide. registry: where the library chooses
// the voice (none: the request's voice stays whatever the script).
std::optional<ScriptDecides> scriptDecides(const ConversionRequest& request,
                                           const ConversionPlan::Input& input,
                                           const VoiceRegistry* registry);

// What the letters counted decide.
ScriptVoice scriptVoice(const ConversionRequest& request, const ConversionPlan::Input& input,
                        const VoiceRegistry* registry, const ScriptTally& tally);

// The first letters of the input: the first bytes of a plain text in UTF-8, or a document's
// first blocks, read for them alone with its warnings muted (where the plan does not read the
// document through, which settles the voice as it reads: StructuredReading).
ScriptTally sampledScript(const ConversionRequest& request, ConversionPlan::Input& input);

// The decision taken into the request; its warning held for the conversion to tell.
void adoptScriptVoice(ConversionRequest& request, ConversionPlan::Input& input,
                      const ScriptVoice& decided);

} // namespace kestrova::speech
