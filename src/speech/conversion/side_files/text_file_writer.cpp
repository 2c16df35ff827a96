#include "speech/audio/output_files/output_target.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kestrova::speech {

void writeTextFile(const std::filesystem::path& path, std::string_view content,
                   std::string_view fileKind, bool replaceExisting, bool syncToDisk) {
    OutputTarget::Options options;
    options.replaceExisting = replaceExisting;
    // A reader of subtitles or a cue sheet opens a file; a FIFO would hold the converter
    // until something read it.
    options.fifoAllowed = false;
    options.fileKind = std::string(fileKind);
    OutputTarget target(path, options);
    for (std::size_t written = 0; written < content.size();) {
        const ssize_t count =
            ::write(target.fd(), content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw FileError(outputFailure(path, std::strerror(errno), fileKind));
        written += static_cast<std::size_t>(count);
    }
    target.commit(replaceExisting, syncToDisk);
}

void checkTextFilePath(const std::filesystem::path& path, std::string_view fileKind,
                       bool replaceExisting) {
    OutputTarget::Options options;
    options.replaceExisting = replaceExisting;
    options.fileKind = std::string(fileKind);
    OutputTarget::checkBeforehand(path, options);
}

} // namespace kestrova::speech
