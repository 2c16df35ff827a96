#include "speech/base/whole_file.h"

#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <cstring>
#include <sys/stat.h>

namespace kestrova::speech {

namespace {

[[noreturn]] void refuseTooLarge(const WholeFileLimit& limit) {
    throw FileError(limit.failure(limit.tooLarge.empty()
                                      ? "it is larger than " + sizeInWords(limit.maxBytes)
                                      : limit.tooLarge));
}

} // namespace

std::string sizeInWords(std::uint64_t bytes) {
    constexpr std::uint64_t mebibyte = std::uint64_t{1} << 20;
    if (bytes >= mebibyte && bytes % mebibyte == 0)
        return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string readWholeFile(int fd, const WholeFileLimit& limit) {
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (regular && static_cast<std::uint64_t>(status.st_size) > limit.maxBytes)
        refuseTooLarge(limit);
    std::string bytes;
    // A regular file's size is known: one allocation instead of a doubling string's copies.
    if (regular)
        bytes.reserve(static_cast<std::size_t>(status.st_size));
    char piece[65536];
    for (;;) {
        if (limit.cancel != nullptr && limit.cancel->load(std::memory_order_relaxed))
            throw ConversionCancelled(limit.failure("the conversion was cancelled"));
        const Transfer read = readAll(fd, piece, sizeof piece);
        if (read.error != 0)
            throw FileError(limit.failure(std::strerror(read.error)));
        if (read.done > limit.maxBytes - bytes.size())
            refuseTooLarge(limit);
        bytes.append(piece, read.done);
        if (read.ended)
            return bytes;
    }
}

} // namespace kestrova::speech
