#include "format_rule.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace kestrova::app {
namespace {

std::string upperCase(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

} // namespace

int formatCodeForEngine(std::string_view EngineName) {
    const std::string upper = upperCase(EngineName);
    if (upper.find("16") != std::string::npos && upper.find("ATT") != std::string::npos)
        return format16kHz16BitMono;
    if (upper == "VW KATE" || upper == "VW PAUL")
        return format16kHz16BitMono;
    return format22kHz16BitMono;
}

} // namespace kestrova::app
