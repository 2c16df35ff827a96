#include "speech/base/clean_text.h"

#include "speech/base/utf8.h"

namespace kestrova::speech {

bool isGapCharacter(int codePoint) {
    return (codePoint >= 0 && codePoint <= 0x20) || (codePoint >= 0x7F && codePoint <= 0x9F) ||
           codePoint == 0x2028 || codePoint == 0x2029;
}

bool isDirectionControl(int codePoint) {
    return (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

std::string cleanText(std::string_view text) {
    std::string cleaned;
    cleaned.reserve(text.size());
    bool gap = false;
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint character = codePointAt(text.substr(at));
        const std::string_view bytes =
            character.value < 0 ? replacementCharacter : text.substr(at, character.length);
        at += character.length;
        if (isGapCharacter(character.value)) {
            gap = !cleaned.empty();
            continue;
        }
        if (isDirectionControl(character.value))
            continue;
        if (gap)
            cleaned += ' ';
        gap = false;
        cleaned += bytes;
    }
    return cleaned;
}

} // namespace kestrova::speech
