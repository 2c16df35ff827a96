#pragma once

#include "speech/conversion/reading/sentence_voices.h"
#include "speech/text/script/text_chunker.h"
#include "speech/voice.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kestrova::speech {

// Holds a plain text's sentences, one chunk each, until their paragraph ends, so that a
// quotation is found over the whole paragraph, and hands each on with the voices that read it.
class PlainDialogue {
public:
    // voices: the sentence's, the first at byte 0 of its text.
    using Speak = std::function<void(TextChunk chunk, std::size_t sentence,
                                     const std::vector<VoiceStart>& voices)>;

    // narrator and dialogue must outlive this; language chooses the quotation marks.
    PlainDialogue(const Voice& narrator, const Voice& dialogue, std::string language, Speak speak);

    void add(TextChunk chunk, std::size_t sentence);
    // Hands on the last paragraph's sentences.
    void finish();

private:
    struct Held {
        TextChunk chunk;
        std::size_t sentence;
        std::size_t begin; // where its text begins in the paragraph's
    };

    const Voice* narrator_;
    const Voice* dialogue_;
    std::string language_;
    Speak speak_;
    std::vector<Held> held_;
    std::string paragraph_; // the held sentences' texts, a space between them
};

} // namespace kestrova::speech
