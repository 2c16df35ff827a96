#include "wave_cue_points.h"

#include "speech/base/utf8.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// SF_CUE_POINT holds a name of 256 bytes with its terminating zero.
constexpr std::size_t longestName = 255;

void appendLittleEndian32(std::string& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::string_view labelOf(const std::string& title) {
    std::string_view label(title.c_str()); // a zero byte would end it in the file anyway
    return label.substr(0, characterCut(label, longestName));
}

std::string cueChunks(std::span<const ChapterTiming> chapters,
                      const std::filesystem::path& shownAs) {
    std::string bytes = "cue ";
    appendLittleEndian32(bytes, static_cast<std::uint32_t>(4 + 24 * chapters.size()));
    appendLittleEndian32(bytes, static_cast<std::uint32_t>(chapters.size()));
    std::uint32_t id = 0;
    for (const ChapterTiming& chapter : chapters) {
        if (chapter.headingFrame > std::numeric_limits<std::uint32_t>::max())
            throw FileError(
                outputFailure(shownAs, "a cue point lies beyond what a wave file holds"));
        const auto frame = static_cast<std::uint32_t>(chapter.headingFrame);
        appendLittleEndian32(bytes, ++id);
        appendLittleEndian32(bytes, frame); // the place in playing order: the same, no playlist
        bytes += "data";
        appendLittleEndian32(bytes, 0); // chunk start and block start: 0 for PCM data
        appendLittleEndian32(bytes, 0);
        appendLittleEndian32(bytes, frame);
    }
    std::string labels;
    id = 0;
    for (const ChapterTiming& chapter : chapters) {
        ++id;
        const std::string_view label = labelOf(chapter.title);
        if (label.empty())
            continue;
        labels += "labl";
        appendLittleEndian32(labels, static_cast<std::uint32_t>(4 + label.size() + 1));
        appendLittleEndian32(labels, id);
        labels += label;
        labels.push_back('\0');
        if (labels.size() % 2 != 0)
            labels.push_back('\0');
    }
    if (!labels.empty()) {
        bytes += "LIST";
        appendLittleEndian32(bytes, static_cast<std::uint32_t>(4 + labels.size()));
        bytes += "adtl";
        bytes += labels;
    }
    return bytes;
}

[[noreturn]] void failWithSystemError(const std::filesystem::path& shownAs) {
    throw FileError(
        outputFailure(shownAs, std::string("cannot add its cue points: ") + std::strerror(errno)));
}

void writeChunkAt(int fd, std::string_view bytes, off_t offset,
                  const std::filesystem::path& shownAs) {
    const Transfer written = writeAllAt(fd, bytes.data(), bytes.size(), offset);
    if (written.whole())
        return;
    if (written.error != 0)
        errno = written.error;
    failWithSystemError(shownAs);
}

} // namespace

void appendWaveCuePoints(int fd, std::span<const ChapterTiming> chapters,
                         const std::filesystem::path& shownAs) {
    if (chapters.empty())
        return;
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        failWithSystemError(shownAs);
    if (!S_ISREG(status.st_mode))
        return;
    // Chunks start at even offsets; libsndfile pads its own, so this is only a guard.
    const std::string chunks = std::string(status.st_size % 2, '\0') + cueChunks(chapters, shownAs);
    const std::uint64_t riffSize = static_cast<std::uint64_t>(status.st_size) - 8 + chunks.size();
    if (riffSize > std::numeric_limits<std::uint32_t>::max())
        throw FileError(outputFailure(shownAs, "the cue points do not fit in the wave file"));
    writeChunkAt(fd, chunks, status.st_size, shownAs);
    // The size last: until it grows, a reader sees the file without the new chunks.
    std::string size;
    appendLittleEndian32(size, static_cast<std::uint32_t>(riffSize));
    writeChunkAt(fd, size, 4, shownAs);
}

} // namespace kestrova::speech
