#pragma once

#include "speech/text/readers/xml/xml_text.h"
#include "speech/text/script/speech_script.h"

#include <optional>
#include <string>
#include <string_view>

// The values of SSML attributes: numbers with units, the prosody levels, the emphasis levels
// and the named pauses, as the reader applies them.
namespace kestrova::speech::ssml {

using xml::isXmlSpace;
using xml::trimmed;

// A number as attribute values give it: an optional sign, digits with an optional fraction,
// then a unit.
struct Quantity {
    double value = 0;
    bool signedChange = false;
    std::string_view unit;
};
std::optional<Quantity> quantityOf(std::string_view text);

// A prosody attribute's value applied to the enclosing one; nothing when it is malformed.
std::optional<double> rateOf(std::string_view text, double enclosing);
std::optional<double> pitchOf(std::string_view text, double enclosing);
std::optional<double> volumeOf(std::string_view text, double enclosing);

// The ranges a conversion accepts; each level of nesting is held to them.
Prosody clamped(Prosody prosody);

// The factors an emphasis level applies to the prosody; nothing for an unknown level.
std::optional<Prosody> emphasisChange(std::string_view level);

// A <break>'s strength as a pause; nothing for an unknown strength.
std::optional<int> namedPauseMilliseconds(std::string_view strength);

// A <break>'s time ("250ms", "1.5s") in milliseconds; nothing when it is malformed.
std::optional<double> breakTimeMilliseconds(std::string_view time);
inline constexpr double longestPauseMilliseconds = 3600.0 * 1000.0;

// The content spoken one character at a time.
std::string spacedCharacters(std::string_view text);

} // namespace kestrova::speech::ssml
