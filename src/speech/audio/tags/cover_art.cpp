#include "speech/cover_art.h"

#include "speech/base/unique_fd.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace kestrova::speech {
namespace {

[[noreturn]] void refuse(const std::filesystem::path& path, const std::string& reason) {
    throw FileError("cannot use the cover " + quotedName(path.native()) + ": " + reason);
}

// At most limit + 1 bytes: enough to tell that the file is too large, from a FIFO too.
std::string readUpTo(const std::filesystem::path& path, std::size_t limit) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!file)
        refuse(path, std::strerror(errno));
    std::string bytes;
    char block[65536];
    for (bool ended = false; !ended && bytes.size() <= limit;) {
        const Transfer read = readAll(file.get(), block, sizeof block);
        if (read.error != 0)
            refuse(path, std::strerror(read.error));
        bytes.append(block, read.done);
        ended = read.ended;
    }
    return bytes;
}

} // namespace

CoverArt readCoverArt(const std::filesystem::path& path) {
    std::string bytes = readUpTo(path, maximumCoverBytes);
    if (bytes.size() > maximumCoverBytes)
        refuse(path, "it is larger than " + std::to_string(maximumCoverBytes >> 20) + " MiB");
    const std::string_view start(bytes);
    if (start.starts_with("\xFF\xD8\xFF"))
        return {.mediaType = "image/jpeg", .bytes = std::move(bytes)};
    if (start.starts_with("\x89PNG\r\n\x1A\n"))
        return {.mediaType = "image/png", .bytes = std::move(bytes)};
    refuse(path, "it is neither a JPEG nor a PNG picture");
}

} // namespace kestrova::speech
