#pragma once

#include "speech/voice.h"

#include <string>
#include <string_view>

namespace kestrova::speech {

// The primary language of a BCP 47 tag or an eSpeak NG language code, lower case, with the
// names eSpeak NG uses where they differ ("zh" is "cmn"): "de-AT" gives "de".
std::string primaryLanguage(std::string_view tag);

// Whether a voice speaks the language of the tag (its primary language).
bool speaksLanguage(const Voice& voice, std::string_view tag);

// An eSpeak NG voice of the registry for the language of a BCP 47 tag: the voice of exactly
// that language ("pt-br"), else the default voice when it speaks it, else the voice of the
// primary language itself ("de"), else the first that speaks it; null when none does.
const Voice* voiceForLanguage(const VoiceRegistry& registry, std::string_view tag);

} // namespace kestrova::speech
