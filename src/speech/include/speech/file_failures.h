#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrova::speech {

// The wording of every failure to read the text file or write the output, in one place.

// "cannot ACTION the text file "PATH": REASON"; action is "open" or "read".
std::string inputFailure(std::string_view action, const std::filesystem::path& textFile,
                         const std::string& reason);

// "cannot write the wave file "PATH": REASON", the one form of every output failure (an
// unusual PATH quoted as quotedName does); fileKind names what else is written, such as
// "subtitle file".
std::string outputFailure(const std::filesystem::path& target, const std::string& reason,
                          std::string_view fileKind = "wave file");

// Throws FileError when output is the text file itself, under another name or through a
// link: the finished file would take the text's place, and deleting the text file after the
// conversion would take the new file with it.
void refuseOutputOverInput(const std::filesystem::path& input, const std::filesystem::path& output);

} // namespace kestrova::speech
