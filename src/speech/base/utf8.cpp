#include "utf8.h"

#include "speech/text_encoding.h"

#include <algorithm>

namespace kestrova::speech {

std::size_t utf8SequenceLength(std::string_view text) {
    if (text.empty())
        return 0;
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF; // the second byte's range, narrower after some leads
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuationByte(text[i]))
            return 0;
    return length;
}

bool isUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text.substr(at));
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

CodePoint codePointAt(std::string_view text) {
    const std::size_t length = utf8SequenceLength(text);
    if (length == 0)
        return {.value = -1, .length = 1};
    constexpr unsigned char leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    int value = static_cast<unsigned char>(text[0]) & leadBits[length];
    for (std::size_t i = 1; i < length; ++i)
        value = (value << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    return {.value = value, .length = length};
}

std::size_t appendCharacterOrReplacement(std::string_view text, std::string& out,
                                         std::string_view replacement) {
    const std::size_t length = utf8SequenceLength(text);
    out += length ? text.substr(0, length) : replacement;
    return length ? length : 1;
}

std::size_t characterCount(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !isContinuationByte(c); }));
}

std::size_t characterCut(std::string_view text, std::size_t bytes, std::size_t shortest) {
    if (text.size() <= bytes)
        return text.size();
    while (bytes > shortest && isContinuationByte(text[bytes]))
        --bytes;
    return bytes;
}

std::string encodeUtf8(char32_t value) {
    std::string out;
    const auto byte = [&out](char32_t bits) {
        out.push_back(static_cast<char>(bits));
    };
    if (value < 0x80) {
        byte(value);
    } else if (value < 0x800) {
        byte(0xC0 | (value >> 6));
        byte(0x80 | (value & 0x3F));
    } else if (value < 0x10000 && (value < 0xD800 || value > 0xDFFF)) {
        byte(0xE0 | (value >> 12));
        byte(0x80 | ((value >> 6) & 0x3F));
        byte(0x80 | (value & 0x3F));
    } else if (value >= 0x10000 && value <= 0x10FFFF) {
        byte(0xF0 | (value >> 18));
        byte(0x80 | ((value >> 12) & 0x3F));
        byte(0x80 | ((value >> 6) & 0x3F));
        byte(0x80 | (value & 0x3F));
    }
    return out;
}

} // namespace kestrova::speech
