#include "pending_file.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

std::string hexSuffix(std::mt19937_64& random) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string suffix;
    for (std::uint64_t bits = random(); suffix.size() < 12; bits >>= 4)
        suffix.push_back(digits[bits & 15]);
    return suffix;
}

void syncDirectory(const std::filesystem::path& directory) {
    const UniqueFd handle(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle)
        ::fsync(handle.get());
}

} // namespace

PendingFile::PendingFile(std::filesystem::path target) : target_(std::move(target)) {
    if (target_.empty())
        throw FileError(outputFailure(target_, "no file name was given"));
    if (target_.filename().empty())
        throw FileError(outputFailure(target_, "the path names a folder"));
    std::error_code error;
    if (std::filesystem::is_directory(target_, error))
        throw FileError(outputFailure(target_, "it is a folder"));
    const std::filesystem::path directory =
        target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".";
        name.append(target_.filename().string()).append(".").append(hexSuffix(random));
        name.append(".part");
        std::filesystem::path candidate = directory / name;
        // 0666 before the umask, as for any new file the user makes.
        file_.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file_) {
            temporary_ = std::move(candidate);
            return;
        }
        if (errno != EEXIST)
            throw FileError(outputFailure(target_, std::strerror(errno)));
    }
    throw FileError(outputFailure(target_, "no temporary file could be made beside it"));
}

PendingFile::~PendingFile() {
    discard();
}

void PendingFile::discard() noexcept {
    if (!pending_)
        return;
    pending_ = false;
    file_.reset();
    ::unlink(temporary_.c_str());
}

void PendingFile::commit(bool replaceExisting, bool syncToDisk) {
    if (syncToDisk && ::fsync(file_.get()) != 0)
        throw FileError(outputFailure(target_, std::strerror(errno)));
    if (::close(file_.release()) != 0)
        throw FileError(outputFailure(target_, std::strerror(errno)));
    if (replaceExisting) {
        if (::rename(temporary_.c_str(), target_.c_str()) != 0)
            throw FileError(outputFailure(target_, std::strerror(errno)));
    } else {
        // link() refuses an existing target, so no file can be replaced in a race.
        if (::link(temporary_.c_str(), target_.c_str()) != 0)
            throw FileError(outputFailure(target_, errno == EEXIST ? "a file is already there"
                                                                   : std::strerror(errno)));
        ::unlink(temporary_.c_str());
    }
    pending_ = false;
    if (syncToDisk)
        syncDirectory(target_.has_parent_path() ? target_.parent_path() : ".");
}

} // namespace kestrova::speech
