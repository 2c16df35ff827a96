#include "speech/base/scene_break.h"

#include "speech/base/utf8.h"

namespace kestrova::speech {

namespace {

bool isBreakMark(int c) {
    constexpr std::string_view ascii = "-*_~=.#+";
    if (c < 0x80)
        return ascii.find(static_cast<char>(c)) != std::string_view::npos;
    return c == 0xB7 || (c >= 0x2010 && c <= 0x2015) || (c >= 0x2022 && c <= 0x2027) ||
           c == 0x2042 || c == 0x2043 || c == 0x204E || c == 0x2051 || c == 0x2219 || c == 0x22C5 ||
           (c >= 0x2500 && c <= 0x27BF) || c == 0x2E31 || c == 0x2E3A || c == 0x2E3B ||
           c == 0xFE58 || c == 0xFE63 || c == 0xFF0D;
}

bool isBreakSpace(int c) {
    return c == ' ' || c == '\t' || c == 0xA0 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x3000;
}

} // namespace

bool isSceneBreak(std::string_view text) {
    bool marked = false;
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint point = codePointAt(text.substr(at));
        if (isBreakMark(point.value))
            marked = true;
        else if (!isBreakSpace(point.value))
            return false;
        at += point.length;
    }
    return marked;
}

bool mayBeInSceneBreak(int codePoint) {
    return isBreakMark(codePoint) || isBreakSpace(codePoint);
}

} // namespace kestrova::speech
