#include "front_matter.h"

#include "speech/ascii.h"
#include "speech/base/clean_text.h"
#include "speech/base/utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

bool isBlankByte(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlankByte(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlankByte(text.back()))
        text.remove_suffix(1);
    return text;
}

// The block's lines, each without its line end, and where the block ends in the text; empty
// lines and 0: no block at the start.
struct Block {
    std::vector<std::string_view> lines;
    std::size_t length = 0;
};

// A YAML map's first line, "key: value" or "key:": else the lines between two thematic
// breaks are Markdown ("---", "A setext heading", "---").
bool opensAMap(std::string_view line) {
    const std::size_t colon = line.find(':');
    return !line.empty() && std::strchr(" \t-#", line.front()) == nullptr &&
           colon != std::string_view::npos &&
           (colon + 1 == line.size() || isBlankByte(line[colon + 1]));
}

Block blockAtStart(std::string_view text) {
    Block block;
    std::size_t at = 0;
    bool opened = false;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        at = end + 1;
        const std::string_view bare = trimmed(line);
        if (!opened) {
            if (line.substr(0, 3) != "---" || bare != "---")
                return {};
            opened = true;
        } else if (block.lines.empty() && bare.empty()) {
            return {}; // "---" and a blank line: a thematic break, as pandoc reads it
        } else if ((bare == "---" || bare == "...") && line.front() != ' ' &&
                   line.front() != '\t') {
            block.length = std::min(at, text.size());
            // "---" closed at once holds nothing: no front matter.
            return !block.lines.empty() && opensAMap(block.lines.front()) ? block : Block{};
        } else {
            block.lines.push_back(line);
        }
    }
    return {}; // never closed: Markdown after all
}

// The value of count hex digits at text's start; none where one is missing.
std::optional<std::uint32_t> hexDigits(std::string_view text, std::size_t count) {
    if (text.size() < count)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text.substr(0, count)) {
        const auto byte = static_cast<unsigned char>(c);
        if (!std::isxdigit(byte))
            return std::nullopt;
        const int digit = std::isdigit(byte) ? c - '0' : asciiLower(c) - 'a' + 10;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

void appendUtf8(std::uint32_t code, std::string& out) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        out += replacementCharacter; // no character: a surrogate, or past Unicode
    } else if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The character YAML's escape stands for (the letter after the backslash), as a code point;
// none for an escape YAML does not have, or a number escape, read by its digits.
std::optional<std::uint32_t> escapedCharacter(char letter) {
    static constexpr std::pair<char, std::uint32_t> escapes[] = {
        {'0', 0x00}, {'a', 0x07},  {'b', 0x08}, {'t', 0x09}, {'\t', 0x09},  {'n', 0x0A},
        {'v', 0x0B}, {'f', 0x0C},  {'r', 0x0D}, {'e', 0x1B}, {' ', 0x20},   {'"', 0x22},
        {'/', 0x2F}, {'\\', 0x5C}, {'N', 0x85}, {'_', 0xA0}, {'L', 0x2028}, {'P', 0x2029}};
    for (const auto& [escape, code] : escapes)
        if (escape == letter)
            return code;
    return std::nullopt;
}

// The digits \x, \u and \U take.
std::size_t digitsOfEscape(char letter) {
    return letter == 'x' ? 2 : letter == 'u' ? 4 : letter == 'U' ? 8 : 0;
}

// A double-quoted scalar's content with YAML's escapes undone, the numbered ones (\xE9,
// \u00EB, \U0001F600) as the UTF-8 of their characters; text starts at the quote. An
// escape YAML does not have keeps its letter.
std::string doubleQuoted(std::string_view text) {
    std::string value;
    for (std::size_t i = 1; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            value += text[i];
            continue;
        }
        const char letter = text[++i];
        const std::size_t digits = digitsOfEscape(letter);
        if (const auto code =
                digits > 0 ? hexDigits(text.substr(i + 1), digits) : escapedCharacter(letter)) {
            appendUtf8(*code, value);
            i += digits;
        } else {
            value += letter;
        }
    }
    return value;
}

// A single-quoted scalar's content, where '' stands for one quote; text starts at the quote.
std::string singleQuoted(std::string_view text) {
    std::string value;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\'') {
            if (i + 1 < text.size() && text[i + 1] == '\'')
                ++i;
            else
                break;
        }
        value += text[i];
    }
    return value;
}

std::string scalar(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '"')
        return doubleQuoted(text);
    if (!text.empty() && text.front() == '\'')
        return singleQuoted(text);
    // A plain scalar ends where a comment begins.
    const std::size_t comment = text.find(" #");
    return std::string(trimmed(text.substr(0, comment)));
}

// The first entry of a flow list "[a, b]", text starting at its bracket.
std::string firstOfFlowList(std::string_view text) {
    text = trimmed(text.substr(1));
    if (!text.empty() && (text.front() == '"' || text.front() == '\''))
        return scalar(text);
    return scalar(text.substr(0, std::min(text.find(','), text.find(']'))));
}

// A list entry's value: a name, or a map's "name" (pandoc's authors with affiliations).
std::string entryValue(std::string_view entry) {
    entry = trimmed(entry);
    if (entry.substr(0, 5) == "name:")
        entry.remove_prefix(5);
    return scalar(entry);
}

bool isIndented(std::string_view line) {
    return !line.empty() && isBlankByte(line.front());
}

// The value of the key whose line is lines[index] and whose text after the colon is rest:
// on its own line, or in the indented or listed lines that follow it.
std::string valueOf(const std::vector<std::string_view>& lines, std::size_t index,
                    std::string_view rest) {
    rest = trimmed(rest);
    if (!rest.empty() && rest.front() == '[')
        return firstOfFlowList(rest);
    const bool blockScalar = !rest.empty() && (rest.front() == '|' || rest.front() == '>');
    if (!rest.empty() && !blockScalar)
        return scalar(rest);
    std::string joined;
    for (std::size_t i = index + 1; i < lines.size(); ++i) {
        const std::string_view line = trimmed(lines[i]);
        if (!isIndented(lines[i]) && line.substr(0, 1) != "-")
            break;
        if (!blockScalar && line.substr(0, 1) == "-")
            return entryValue(line.substr(1));
        joined += std::string(line) + " ";
    }
    return std::string(trimmed(joined));
}

std::string* fieldFor(DocumentMetadata& metadata, std::string key) {
    key = asciiLower(key);
    if (key == "title")
        return &metadata.title;
    if (key == "author")
        return &metadata.author;
    if (key == "lang" || key == "language")
        return &metadata.language;
    if (key == "date")
        return &metadata.date;
    return nullptr;
}

} // namespace

FrontMatter readFrontMatter(std::string_view text) {
    const Block block = blockAtStart(text);
    FrontMatter frontMatter{.metadata = {}, .length = block.length};
    for (std::size_t i = 0; i < block.lines.size(); ++i) {
        const std::string_view line = block.lines[i];
        const std::size_t colon = line.find(':');
        if (line.empty() || isIndented(line) || line.front() == '-' || line.front() == '#' ||
            colon == std::string_view::npos)
            continue;
        std::string* field =
            fieldFor(frontMatter.metadata, std::string(trimmed(line.substr(0, colon))));
        if (field != nullptr && field->empty())
            *field = cleanText(valueOf(block.lines, i, line.substr(colon + 1)));
    }
    return frontMatter;
}

} // namespace kestrova::speech
