#include "hand_off.h"

namespace kestrova::app {

std::string handOffString(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            joined.push_back(' ');
        joined.append(argv[i]);
    }
    return joined;
}

std::string trimSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::optional<HandOff> parseHandOff(std::string_view handOff) {
    const std::size_t first = handOff.find('%');
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = handOff.substr(first + 1);
    return HandOff{trimSpaces(handOff.substr(0, first)),
                   trimSpaces(rest.substr(0, rest.find('%')))};
}

} // namespace kestrova::app
