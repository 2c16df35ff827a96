#include "speech/cover_art.h"

#include "speech/base/unique_fd.h"
#include "speech/base/whole_file.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace kestrova::speech {
namespace {

std::string coverFailure(const std::filesystem::path& path, const std::string& reason) {
    return "cannot use the cover " + quotedName(path.native()) + ": " + reason;
}

[[noreturn]] void refuse(const std::filesystem::path& path, const std::string& reason) {
    throw FileError(coverFailure(path, reason));
}

std::string coverBytes(const std::filesystem::path& path) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!file)
        refuse(path, std::strerror(errno));
    return readWholeFile(
        file.get(),
        {.maxBytes = maximumCoverBytes,
         .cancel = nullptr,
         .failure = [&path](const std::string& reason) { return coverFailure(path, reason); },
         .tooLarge = {}});
}

} // namespace

CoverArt readCoverArt(const std::filesystem::path& path) {
    std::string bytes = coverBytes(path);
    const std::string_view start(bytes);
    if (start.starts_with("\xFF\xD8\xFF"))
        return {.mediaType = "image/jpeg", .bytes = std::move(bytes)};
    if (start.starts_with("\x89PNG\r\n\x1A\n"))
        return {.mediaType = "image/png", .bytes = std::move(bytes)};
    refuse(path, "it is neither a JPEG nor a PNG picture");
}

} // namespace kestrova::speech
