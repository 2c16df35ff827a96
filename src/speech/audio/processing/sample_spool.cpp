#include "sample_spool.h"

#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

constexpr std::size_t bufferSamples = 1 << 15;

// A named file, its name removed as soon as it is made.
int unlinkedFile(const std::filesystem::path& folder) {
    std::string name = (folder / ".kestrova-spool-XXXXXX").native();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

} // namespace

SampleSpool::SampleSpool(const std::filesystem::path& folder, std::filesystem::path output,
                         std::string fileKind)
    : folder_(folder), output_(std::move(output)), fileKind_(std::move(fileKind)) {
    file_.reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    // EISDIR: a kernel older than O_TMPFILE, which takes it for O_DIRECTORY.
    if (!file_ && (errno == EOPNOTSUPP || errno == EISDIR))
        file_.reset(unlinkedFile(folder));
    if (!file_)
        fail(errno);
    buffer_.reserve(bufferSamples);
}

void SampleSpool::write(std::span<const std::int16_t> samples) {
    while (!samples.empty()) {
        const std::size_t take = std::min(samples.size(), bufferSamples - buffer_.size());
        buffer_.insert(buffer_.end(), samples.begin(), samples.begin() + take);
        samples = samples.subspan(take);
        if (buffer_.size() == bufferSamples)
            flush();
    }
}

void SampleSpool::flush() {
    if (const Transfer written =
            writeAllAt(file_.get(), buffer_.data(), buffer_.size() * sizeof(std::int16_t),
                       static_cast<off_t>(written_ * sizeof(std::int16_t)));
        !written.whole())
        fail(written.failure(ENOSPC));
    written_ += buffer_.size();
    buffer_.clear();
}

std::size_t SampleSpool::read(std::uint64_t from, std::span<std::int16_t> samples) {
    if (!buffer_.empty())
        flush();
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(samples.size(), written_ - from));
    if (const Transfer read = readAllAt(file_.get(), samples.data(), wanted * sizeof(std::int16_t),
                                        static_cast<off_t>(from * sizeof(std::int16_t)));
        !read.whole())
        fail(read.failure(EIO)); // the spool shrank: no one else can reach it
    return wanted;
}

void SampleSpool::fail(int error) const {
    throw FileError(outputFailure(output_,
                                  "cannot keep its samples for the second pass in " +
                                      quotedName(folder_.native()) + ": " + std::strerror(error),
                                  fileKind_));
}

std::filesystem::path spoolFolder(const std::filesystem::path& output, bool outputIsFile) {
    if (const char* temporary = std::getenv("TMPDIR"); temporary && *temporary)
        return temporary;
    if (outputIsFile)
        return output.has_parent_path() ? output.parent_path() : std::filesystem::path(".");
    return "/tmp";
}

} // namespace kestrova::speech
