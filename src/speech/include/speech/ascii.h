#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrova::speech {

// Letter case in ASCII alone, whatever locale the process runs in: file endings, markup names
// and language tags are ASCII, and a byte of UTF-8 text beyond it is never changed.
inline constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline constexpr char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string asciiLower(std::string_view text);
std::string asciiUpper(std::string_view text);

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// A path's ending in ASCII lower case: ".flac" for "Book.FLAC", empty for "README".
std::string lowerCaseEnding(const std::filesystem::path& path);

} // namespace kestrova::speech
