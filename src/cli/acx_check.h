#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::cli {

// What a written file lacks of an audiobook store's requirements (AcxRules), read back as a
// player decodes it: MP3, 44.1 kHz mono, RMS level, sample peak, room tone at the head and
// the tail. Empty: it meets them.
std::vector<std::string> acxShortfalls(const std::filesystem::path& file);

// "  NAME: meets the --acx requirements", or what it misses, for each file.
void summarizeAcx(const std::vector<std::filesystem::path>& files);

} // namespace kestrova::cli
