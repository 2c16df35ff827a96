#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrova::app {

// What the host hands over: "engine name % text file path".
struct HandOff {
    std::string EngineName;
    std::string FileToOpen;
};

// The hand-off string is the raw argument text: the arguments joined with single spaces.
std::string handOffString(int argc, const char* const* argv);

// Splits at every "%" and trims spaces (U+0020 only) from fields 0 and 1; further fields
// are ignored. No "%" at all: not a hand-off.
std::optional<HandOff> parseHandOff(std::string_view handOff);

std::string trimSpaces(std::string_view text);

} // namespace kestrova::app
