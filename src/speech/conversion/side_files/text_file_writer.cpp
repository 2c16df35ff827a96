#include "speech/audio/output_files/output_target.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"
#include "speech/whole_io.h"

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
    if (const Transfer written = writeAll(target.fd(), content.data(), content.size());
        !written.whole())
        throw FileError(outputFailure(path, std::strerror(written.failure(EIO)), fileKind));
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
