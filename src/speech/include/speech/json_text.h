#pragma once

#include <string>
#include <string_view>

namespace kestrova::speech {

// text as a JSON string, quotes included: quotes, backslashes and control characters
// escaped, and each byte that is not part of valid UTF-8 replaced by U+FFFD, so that any
// JSON parser takes it.
std::string jsonString(std::string_view text);

} // namespace kestrova::speech
