#include "speech/conversion/reading/sentence_voices.h"

#include "speech/base/utf8.h"
#include "speech/text/script/unicode_breaks.h"

#include <algorithm>

namespace kestrova::speech {
namespace {

// The end of the run of punctuation at byte at of text, before end.
std::size_t punctuationEnd(std::string_view text, std::size_t at, std::size_t end) {
    while (at < end) {
        const CodePoint character = codePointAt(text.substr(at, end - at));
        if (!isPunctuation(character.value))
            break;
        at += character.length;
    }
    return at;
}

// Whether bytes [begin, end) of text hold nothing a voice reads as a word.
bool onlyMarks(std::string_view text, std::size_t begin, std::size_t end) {
    for (std::size_t at = begin; at < end;) {
        const CodePoint character = codePointAt(text.substr(at, end - at));
        if (!isPunctuation(character.value) && !isWhiteSpace(character.value))
            return false;
        at += character.length;
    }
    return true;
}

std::size_t partEnd(const std::vector<VoiceStart>& parts, std::size_t i, std::string_view text) {
    return i + 1 < parts.size() ? parts[i + 1].at : text.size();
}

// Marks at a part's start that end the word before it (no space between them, and none but
// a space or the part's end after them) go with the part before; a part of marks alone joins
// the part before it, or the part after it at the sentence's start.
void joinMarks(std::string_view text, std::vector<VoiceStart>& parts) {
    for (std::size_t i = 1; i < parts.size();) {
        const std::size_t end = partEnd(parts, i, text);
        if (onlyMarks(text, parts[i].at, end)) {
            parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        const std::size_t marks = punctuationEnd(text, parts[i].at, end);
        if (marks == end || text[marks] == ' ' || text[marks] == '\n')
            parts[i].at = marks;
        ++i;
    }
    if (parts.size() > 1 && onlyMarks(text, 0, parts[1].at)) {
        parts.erase(parts.begin());
        parts.front().at = 0;
    }
}

void mergeSameVoices(std::vector<VoiceStart>& parts) {
    const auto same =
        std::unique(parts.begin(), parts.end(),
                    [](const VoiceStart& a, const VoiceStart& b) { return a.voice == b.voice; });
    parts.erase(same, parts.end());
}

} // namespace

std::vector<VoiceStart> sentenceVoices(std::string_view blockText,
                                       const std::vector<VoiceStart>& blockVoices,
                                       const TextChunk& sentence) {
    const auto after = [](std::size_t value, const VoiceStart& start) {
        return value < start.at;
    };
    auto voice = std::upper_bound(blockVoices.begin(), blockVoices.end(),
                                  static_cast<std::size_t>(sentence.startByte), after);
    if (voice != blockVoices.begin())
        --voice;
    std::vector<VoiceStart> parts{{.at = 0, .voice = voice->voice}};
    const std::string_view raw =
        blockText.substr(sentence.startByte, sentence.endByte - sentence.startByte);
    for (++voice; voice != blockVoices.end() && voice->at < sentence.endByte; ++voice) {
        // The sentence's text is the raw text single-spaced: a part begins where the text
        // before it ends, with the space between them.
        const std::size_t at = singleSpaced(raw.substr(0, voice->at - sentence.startByte)).size();
        parts.push_back({.at = at, .voice = voice->voice});
    }
    if (parts.size() == 1)
        return parts;
    joinMarks(sentence.text, parts);
    mergeSameVoices(parts);
    return parts;
}

std::vector<VoiceChange> pronouncedParts(std::string& text, const std::vector<VoiceStart>& voices,
                                         const std::function<std::string(std::string)>& pronounce) {
    std::string joined;
    std::vector<VoiceChange> changes;
    for (std::size_t i = 0; i < voices.size(); ++i) {
        if (i > 0)
            changes.push_back({.at = joined.size(), .voice = *voices[i].voice});
        const std::size_t end = partEnd(voices, i, text);
        joined += pronounce(text.substr(voices[i].at, end - voices[i].at));
    }
    text = std::move(joined);
    return changes;
}

} // namespace kestrova::speech
