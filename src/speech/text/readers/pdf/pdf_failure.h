#pragma once

#include <filesystem>
#include <string>

namespace kestrova::speech {

// "cannot read the PDF document "PATH": REASON", the one form of every PDF reader's failure.
std::string pdfFailure(const std::filesystem::path& document, const std::string& reason);

} // namespace kestrova::speech
