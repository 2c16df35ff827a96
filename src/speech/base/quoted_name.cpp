#include "speech/quoted_name.h"

#include "speech/base/utf8.h"

#include <cstdint>
#include <optional>

namespace kestrova::speech {
namespace {

// The length of the UTF-8 character at the start of bytes, if it is a valid one that a
// terminal shows as itself.
std::optional<std::size_t> printableCharacter(std::string_view bytes) {
    const CodePoint character = codePointAt(bytes);
    const int code = character.value;
    const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
    const bool bidirectionalOverride =
        (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
    if (control || bidirectionalOverride) // a negative code: not UTF-8
        return std::nullopt;
    return character.length;
}

void appendEscapedByte(unsigned char byte, std::string& out) {
    switch (byte) {
    case '\n':
        out += "\\n";
        return;
    case '\t':
        out += "\\t";
        return;
    case '\r':
        out += "\\r";
        return;
    default:
        break;
    }
    constexpr char octal[] = "01234567";
    out += '\\';
    out += octal[(byte >> 6) & 7];
    out += octal[(byte >> 3) & 7];
    out += octal[byte & 7];
}

} // namespace

bool isPlainName(std::string_view name) {
    for (std::size_t i = 0; i < name.size();) {
        const auto length = printableCharacter(name.substr(i));
        if (!length)
            return false;
        i += *length;
    }
    return true;
}

std::string quotedName(std::string_view name) {
    if (isPlainName(name)) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely of overlapping copies in the
        // concatenation of literals and strings (its bug 105329).
        std::string quoted;
        quoted.reserve(name.size() + 2);
        quoted.push_back('"');
        quoted.append(name);
        quoted.push_back('"');
        return quoted;
    }

    // Runs of printable characters in single quotes, the rest in $'...' with escapes.
    std::string quoted;
    bool inPlainRun = false;
    bool inEscapedRun = false;
    for (std::size_t i = 0; i < name.size();) {
        const auto length = printableCharacter(name.substr(i));
        if (length) {
            if (inEscapedRun)
                quoted += '\'';
            if (!inPlainRun)
                quoted += '\'';
            inEscapedRun = false;
            inPlainRun = true;
            const std::string_view character = name.substr(i, *length);
            quoted += character == "'" ? std::string_view("'\\''") : character;
            i += *length;
        } else {
            if (inPlainRun)
                quoted += '\'';
            if (!inEscapedRun)
                quoted += "$'";
            inPlainRun = false;
            inEscapedRun = true;
            appendEscapedByte(static_cast<unsigned char>(name[i]), quoted);
            ++i;
        }
    }
    if (inPlainRun || inEscapedRun)
        quoted += '\'';
    return quoted;
}

std::string cutInTheMiddle(std::string_view value, std::size_t longestBytes) {
    if (value.size() <= longestBytes)
        return std::string(value);
    // Cut at character starts, so that no character is split into bytes that read as others.
    const std::size_t half = longestBytes / 2;
    const std::string_view head = value.substr(0, characterCut(value, half));
    const std::string_view tail = value.substr(characterCut(value, value.size() - half));
    std::string cut;
    cut.reserve(head.size() + tail.size() + 3);
    cut.append(head);
    cut.append("...");
    cut.append(tail);
    return cut;
}

std::string quotedValue(std::string_view value, std::size_t longestBytes) {
    return quotedName(cutInTheMiddle(value, longestBytes));
}

std::string shownValue(std::string_view value, std::size_t longestBytes) {
    if (value.size() <= longestBytes && isPlainName(value))
        return std::string(value);
    return quotedValue(value, longestBytes);
}

} // namespace kestrova::speech
