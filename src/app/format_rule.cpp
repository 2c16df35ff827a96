#include "format_rule.h"

#include "speech/ascii.h"

#include <string>

namespace kestrova::app {

int formatCodeForEngine(std::string_view EngineName) {
    // Letter case in ASCII alone: the rule must not change with the locale.
    const std::string upper = speech::asciiUpper(EngineName);
    if (upper.find("16") != std::string::npos && upper.find("ATT") != std::string::npos)
        return format16kHz16BitMono;
    if (upper == "VW KATE" || upper == "VW PAUL")
        return format16kHz16BitMono;
    return format22kHz16BitMono;
}

} // namespace kestrova::app
