#pragma once

#include <filesystem>

namespace kestrova::cli {

// Makes standard input a text file that can be read from its start twice over, as the
// converter reads, and returns its name, /dev/stdin. A regular file is used as it is; a
// pipe or terminal is first read to its end into an unnamed file in memory, which then takes
// descriptor 0's place. Throws std::runtime_error naming standard input and the reason.
std::filesystem::path standardInputAsFile();

} // namespace kestrova::cli
