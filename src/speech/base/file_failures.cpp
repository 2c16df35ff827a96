#include "speech/file_failures.h"

#include "speech/quoted_name.h"
#include "speech/speech_error.h"

namespace kestrova::speech {

std::string inputFailure(std::string_view action, const std::filesystem::path& textFile,
                         const std::string& reason) {
    return "cannot " + std::string(action) + " the text file " + quotedName(textFile.native()) +
           ": " + reason;
}

std::string outputFailure(const std::filesystem::path& target, const std::string& reason,
                          std::string_view fileKind) {
    return "cannot write the " + std::string(fileKind) + " " + quotedName(target.native()) + ": " +
           reason;
}

void refuseOutputOverInput(const std::filesystem::path& input,
                           const std::filesystem::path& output) {
    std::error_code error;
    if (std::filesystem::equivalent(input, output, error) && !error)
        throw FileError(outputFailure(output, "it is the text file being converted"));
}

} // namespace kestrova::speech
