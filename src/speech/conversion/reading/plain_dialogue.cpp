#include "speech/conversion/reading/plain_dialogue.h"

#include "speech/conversion/reading/dialogue_voices.h"
#include "speech/text/dialogue/quoted_speech.h"

#include <utility>

namespace kestrova::speech {

PlainDialogue::PlainDialogue(const Voice& narrator, const Voice& dialogue, std::string language,
                             Speak speak)
    : narrator_(&narrator), dialogue_(&dialogue), language_(std::move(language)),
      speak_(std::move(speak)) {}

void PlainDialogue::add(TextChunk chunk, std::size_t sentence) {
    if (chunk.before == Boundary::Paragraph)
        finish();
    if (!paragraph_.empty())
        paragraph_ += ' ';
    held_.push_back({.chunk = std::move(chunk), .sentence = sentence, .begin = paragraph_.size()});
    paragraph_ += held_.back().chunk.text;
}

void PlainDialogue::finish() {
    const std::vector<VoiceStart> voices =
        withDialogueVoice({{.at = 0, .voice = narrator_}}, dialogueSpans(paragraph_, language_),
                          paragraph_.size(), *dialogue_);
    for (Held& held : held_) {
        const TextChunk inParagraph{.text = held.chunk.text,
                                    .endCharacter = 0,
                                    .before = held.chunk.before,
                                    .startByte = held.begin,
                                    .endByte = held.begin + held.chunk.text.size()};
        speak_(std::move(held.chunk), held.sentence,
               sentenceVoices(paragraph_, voices, inParagraph));
    }
    held_.clear();
    paragraph_.clear();
}

} // namespace kestrova::speech
