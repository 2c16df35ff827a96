#pragma once

#include <cstddef>
#include <string_view>

namespace kestrova::speech {

// The length of the valid UTF-8 sequence at the start of text, 0 if there is none (a stray
// continuation byte, an overlong form, a surrogate, a cut sequence, a byte never in UTF-8).
std::size_t utf8SequenceLength(std::string_view text);

} // namespace kestrova::speech
