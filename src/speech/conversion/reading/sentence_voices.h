#pragma once

#include "speech/render/render_task.h"
#include "speech/text/script/text_chunker.h"
#include "speech/voice.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// A voice and where it begins to read, as a byte of a block's text or of a sentence's.
struct VoiceStart {
    std::size_t at = 0;
    const Voice* voice = nullptr;
};

// The voices of one sentence of a block, the first at byte 0 of the sentence's text and each
// after it where it takes over. The block's voices (in order, the first at 0) are mapped onto
// the sentence's single-spaced text; punctuation goes with the words before it ("mon dieu!",
// "bijou," said by the voice of the passage), an opening mark with the words after it, so that
// no voice reads a mark alone; voices that follow themselves are one.
std::vector<VoiceStart> sentenceVoices(std::string_view blockText,
                                       const std::vector<VoiceStart>& blockVoices,
                                       const TextChunk& sentence);

// What a renderer needs of a sentence of several voices: each part of text through pronounce
// on its own (text becomes the parts joined), and where each voice after the first begins.
std::vector<VoiceChange> pronouncedParts(std::string& text, const std::vector<VoiceStart>& voices,
                                         const std::function<std::string(std::string)>& pronounce);

} // namespace kestrova::speech
