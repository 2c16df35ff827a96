#pragma once

#include <string>

namespace kestrova::speech {

// The versions of the built-in engines, as one line: a chunk rendered by one version may
// sound unlike the same chunk rendered by another.
std::string engineVersions();

} // namespace kestrova::speech
