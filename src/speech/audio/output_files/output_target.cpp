#include "output_target.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrova::speech {
namespace {

std::filesystem::path folderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

bool seekable(int fd) {
    return ::lseek(fd, 0, SEEK_CUR) >= 0;
}

} // namespace

OutputTarget::OutputTarget(const std::filesystem::path& path, const Options& options)
    : path_(path), fileKind_(options.fileKind) {
    if (options.standardOutput) {
        useStandardOutput(options.container);
        return;
    }
    if (path.empty())
        fail("no file name was given");
    if (path.filename().empty())
        fail("the path names a folder");
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) {
        if (errno != ENOENT)
            fail(std::strerror(errno));
        container_ = options.container.value_or(containerForPath(path));
        pending_.emplace(folderOf(path), path.filename().string(), path, nullptr, fileKind_);
        return;
    }
    struct stat status = link;
    if (S_ISLNK(link.st_mode) && ::stat(path.c_str(), &status) != 0)
        fail(errno == ENOENT ? "not writing through a dangling link" : std::strerror(errno));

    if (S_ISDIR(status.st_mode))
        fail("it is a folder");
    if (S_ISREG(status.st_mode)) {
        if (!options.replaceExisting)
            fail("a file is already there");
        // Through a link, as an editor writes: the file it resolves to is replaced beside
        // itself, and the link stays a link.
        std::filesystem::path file = path;
        if (S_ISLNK(link.st_mode)) {
            const std::unique_ptr<char, decltype(&std::free)> resolved(
                ::realpath(path.c_str(), nullptr), &std::free);
            if (!resolved)
                fail(std::strerror(errno));
            file = resolved.get();
        }
        container_ = options.container.value_or(containerForPath(path));
        pending_.emplace(folderOf(file), file.filename().string(), path, &status, fileKind_);
        return;
    }
    if (S_ISCHR(status.st_mode))
        openDevice(path, options.container);
    else if (S_ISFIFO(status.st_mode) && options.fifoAllowed)
        openFifo(path, options.container, options.cancel);
    else if (S_ISFIFO(status.st_mode))
        fail("it is a FIFO, not a file; only a file or a character device can take it");
    else
        fail(std::string(S_ISSOCK(status.st_mode) ? "it is a socket" : "it is a block device") +
             (options.fifoAllowed
                  ? ", not a file; only a file, a character device or a FIFO can take the sound"
                  : ", not a file; only a file or a character device can take it"));
}

void OutputTarget::checkBeforehand(const std::filesystem::path& path, const Options& options) {
    const auto fail = [&](const std::string& reason) {
        throw FileError(outputFailure(path, reason, options.fileKind));
    };
    if (path.empty())
        fail("no file name was given");
    if (path.filename().empty())
        fail("the path names a folder");
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT)
            fail(std::strerror(errno));
        struct stat folder {};
        if (::stat(folderOf(path).c_str(), &folder) != 0)
            fail(std::strerror(errno));
        if (!S_ISDIR(folder.st_mode))
            fail(std::strerror(ENOTDIR));
        return;
    }
    if (S_ISLNK(status.st_mode) && ::stat(path.c_str(), &status) != 0)
        fail(errno == ENOENT ? "not writing through a dangling link" : std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        fail("it is a folder");
    if (S_ISREG(status.st_mode) && !options.replaceExisting)
        fail("a file is already there");
}

bool OutputTarget::isFifo(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

void OutputTarget::fail(const std::string& reason) const {
    throw FileError(outputFailure(path_, reason, fileKind_));
}

void OutputTarget::settleStreamContainer(std::optional<Container> chosen, const char* what) {
    if (chosen) {
        // "a wave file" as ever; "an M4B file"
        const std::string named = *chosen == Container::Wave
                                      ? std::string("a ") + soundFileKind(*chosen)
                                      : std::string(containerRow(*chosen).namedInSentence);
        if (!canStream(*chosen))
            fail(named + " cannot be streamed into " + what + " (" +
                 typeNamesWhere(&ContainerRow::streamable, "and") + " can)");
        container_ = *chosen;
        return;
    }
    container_ = streamedContainer(std::nullopt, path_);
}

void OutputTarget::openDevice(const std::filesystem::path& path, std::optional<Container> chosen) {
    stream_.reset(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (!stream_ || ::fstat(stream_.get(), &status) != 0)
        fail(std::strerror(errno));
    if (!S_ISCHR(status.st_mode))
        fail("it was replaced while it was being opened");
    if (seekable(stream_.get()))
        container_ = chosen.value_or(containerForPath(path));
    else
        settleStreamContainer(chosen, "a device that cannot seek");
}

void OutputTarget::openFifo(const std::filesystem::path& path, std::optional<Container> chosen,
                            const std::atomic<bool>* cancel) {
    settleStreamContainer(chosen, "a FIFO"); // refused before waiting for a reader
    // Waits for a reader, as a shell's redirection does, but stops when cancelled.
    using namespace std::chrono_literals;
    while (!(stream_.reset(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)), stream_)) {
        if (errno != ENXIO && errno != EINTR)
            fail(std::strerror(errno));
        if (cancel && cancel->load())
            throw ConversionCancelled(
                outputFailure(path_, "the conversion was cancelled", fileKind_));
        std::this_thread::sleep_for(50ms);
    }
    struct stat status {};
    if (::fstat(stream_.get(), &status) != 0)
        fail(std::strerror(errno));
    if (!S_ISFIFO(status.st_mode))
        fail("it was replaced while it was being opened");
    ::fcntl(stream_.get(), F_SETFL, ::fcntl(stream_.get(), F_GETFL) & ~O_NONBLOCK);
}

void OutputTarget::useStandardOutput(std::optional<Container> chosen) {
    struct stat status {};
    if (::fstat(STDOUT_FILENO, &status) != 0)
        fail(std::strerror(errno));
    if (::isatty(STDOUT_FILENO))
        fail("it is a terminal; send it into a file or a pipe");
    stream_.reset(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
    if (!stream_)
        fail(std::strerror(errno));
    if (S_ISREG(status.st_mode) && seekable(stream_.get()))
        container_ = chosen.value_or(streamedByDefault);
    else
        settleStreamContainer(chosen, "a pipe");
}

void OutputTarget::commit(bool replaceExisting, bool syncToDisk) {
    if (pending_)
        pending_->commit(replaceExisting, syncToDisk);
}

void OutputTarget::park(bool syncToDisk) {
    if (pending_)
        pending_->park(syncToDisk);
    else
        stream_.reset();
}

} // namespace kestrova::speech
