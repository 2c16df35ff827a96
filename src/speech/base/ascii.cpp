#include "speech/ascii.h"

#include <algorithm>

namespace kestrova::speech {

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return asciiLower(c); });
    return lower;
}

std::string asciiUpper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return asciiUpper(c); });
    return upper;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::string lowerCaseEnding(const std::filesystem::path& path) {
    return asciiLower(path.extension().native());
}

} // namespace kestrova::speech
