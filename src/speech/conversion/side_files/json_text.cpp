#include "speech/json_text.h"

#include "speech/base/utf8.h"

#include <cstdio>

namespace kestrova::speech {
std::string jsonString(std::string_view text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            i += appendCharacterOrReplacement(text.substr(i), json, "\\ufffd");
            continue;
        }
        switch (c) {
        case '"':
            json += "\\\"";
            break;
        case '\\':
            json += "\\\\";
            break;
        case '\n':
            json += "\\n";
            break;
        case '\t':
            json += "\\t";
            break;
        case '\r':
            json += "\\r";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                json += escaped;
            } else {
                json += static_cast<char>(c);
            }
        }
        ++i;
    }
    return json + "\"";
}

} // namespace kestrova::speech
