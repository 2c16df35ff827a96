#include "pending_file.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// A short name whatever the length of the target's: a target name of 255 bytes is valid, and
// a temporary name built from it would not be.
std::string temporaryName() {
    static constexpr char digits[] = "0123456789abcdef";
    std::mt19937_64 random(std::random_device{}());
    std::string name = ".kestrova-";
    for (std::uint64_t bits = random(); name.size() < 22; bits >>= 4)
        name.push_back(digits[bits & 15]);
    return name + ".part";
}

} // namespace

PendingFile::PendingFile(const std::filesystem::path& folder, std::string name,
                         std::filesystem::path shownAs, const struct stat* replaced,
                         std::string fileKind)
    : folderPath_(folder), name_(std::move(name)), shownAs_(std::move(shownAs)),
      fileKind_(std::move(fileKind)) {
    folder_.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder_)
        failWithErrno(errno);
    // 0666 before the umask, as for any new file the user makes. Readable too: the tags are
    // edited in place and an M4B writer reads its sound back to put the index in front of it.
    file_.reset(::openat(folder_.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (!file_) {
        // EISDIR: a kernel older than O_TMPFILE, which takes it for O_DIRECTORY.
        if (errno != EOPNOTSUPP && errno != EISDIR)
            failWithErrno(errno);
        createNamed();
    }
    if (replaced)
        takeOwnerAndPermissions(*replaced);
}

void PendingFile::createNamed() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = temporaryName();
        file_.reset(::openat(folder_.get(), candidate.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file_) {
            temporaryName_ = std::move(candidate);
            guard_.emplace(folder_.get(), temporaryName_);
            return;
        }
        if (errno != EEXIST)
            failWithErrno(errno);
    }
    fail("no temporary file could be made beside it");
}

void PendingFile::takeOwnerAndPermissions(const struct stat& replaced) {
    // The owner first: a change of owner clears the set-user-ID bits that chmod then restores.
    // Only root, or a member of the group, may give the file away; else it stays this
    // process's.
    struct stat current {};
    if (::fstat(file_.get(), &current) == 0 &&
        (current.st_uid != replaced.st_uid || current.st_gid != replaced.st_gid)) {
        // Failing both leaves the file this process's, which is all that can be done.
        if (::fchown(file_.get(), replaced.st_uid, replaced.st_gid) != 0 &&
            ::fchown(file_.get(), static_cast<uid_t>(-1), replaced.st_gid) != 0) {
        }
    }
    if (::fchmod(file_.get(), replaced.st_mode & 07777) != 0)
        failWithErrno(errno);
}

PendingFile::~PendingFile() {
    discard();
}

void PendingFile::discard() noexcept {
    if (!pending_)
        return;
    pending_ = false;
    file_.reset();
    if (!temporaryName_.empty()) {
        if (folder_) {
            ::unlinkat(folder_.get(), temporaryName_.c_str(), 0);
        } else {
            try {
                ::unlinkat(reopenFolder().get(), temporaryName_.c_str(), 0);
            } catch (const FileError&) {
                // The folder is gone or moved: the file went with it.
            }
        }
    }
    guard_.reset();
}

void PendingFile::fail(const std::string& reason) const {
    throw FileError(outputFailure(shownAs_, reason, fileKind_));
}

void PendingFile::failWithErrno(int error) const {
    fail(std::strerror(error));
}

// Gives the unnamed file a name in the folder; returns 0 or the errno of the failure.
int PendingFile::linkUnnamed(const std::string& name) const {
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    if (::linkat(AT_FDCWD, self.c_str(), folder_.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int error = errno;
    if (::access("/proc/self/fd", F_OK) == 0)
        return error;
    // No /proc mounted: linking the descriptor itself needs CAP_DAC_READ_SEARCH.
    return ::linkat(file_.get(), "", folder_.get(), name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

std::string PendingFile::linkUnderTemporaryName() const {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = temporaryName();
        const int error = linkUnnamed(candidate);
        if (error == 0)
            return candidate;
        if (error != EEXIST)
            failWithErrno(error);
    }
    fail("no temporary name could be made beside it");
}

void PendingFile::closeFile() {
    if (::close(file_.release()) != 0)
        failWithErrno(errno);
}

void PendingFile::commit(bool replaceExisting, bool syncToDisk) {
    if (syncToDisk && ::fsync(file_.get()) != 0)
        failWithErrno(errno);
    const char* const target = name_.c_str();
    if (unnamed()) {
        // Straight to the name when nothing is there: link() never replaces a file, so a file
        // that appeared meanwhile is never lost.
        const int error = linkUnnamed(name_);
        if (error == 0) {
            pending_ = false;
            if (::close(file_.release()) != 0) {
                const int closeError = errno;
                ::unlinkat(folder_.get(), target, 0);
                failWithErrno(closeError);
            }
        } else if (error != EEXIST) {
            failWithErrno(error);
        } else if (!replaceExisting) {
            fail("a file is already there");
        } else {
            // The name's only moment: linked under a temporary name and renamed at once.
            temporaryName_ = linkUnderTemporaryName();
        }
    }
    if (pending_) {
        closeFile();
        if (replaceExisting) {
            if (::renameat(folder_.get(), temporaryName_.c_str(), folder_.get(), target) != 0)
                failWithErrno(errno);
        } else {
            if (::linkat(folder_.get(), temporaryName_.c_str(), folder_.get(), target, 0) != 0)
                fail(errno == EEXIST ? "a file is already there" : std::strerror(errno));
            ::unlinkat(folder_.get(), temporaryName_.c_str(), 0);
        }
        pending_ = false;
        guard_.reset();
    }
    if (syncToDisk) {
        const UniqueFd handle(::openat(folder_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (handle)
            ::fsync(handle.get());
    }
}

void PendingFile::park(bool syncToDisk) {
    if (syncToDisk && ::fsync(file_.get()) != 0)
        failWithErrno(errno);
    if (unnamed())
        temporaryName_ = linkUnderTemporaryName();
    closeFile();
    struct stat folder {};
    if (::fstat(folder_.get(), &folder) != 0)
        failWithErrno(errno);
    folderIdentity_ = {folder.st_dev, folder.st_ino};
    // The guard holds the folder's descriptor: it goes first, free for the next file.
    guard_.reset();
    folder_.reset();
}

UniqueFd PendingFile::reopenFolder() const {
    UniqueFd folder(::open(folderPath_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!folder || ::fstat(folder.get(), &status) != 0)
        failWithErrno(errno);
    if (std::pair(status.st_dev, status.st_ino) != folderIdentity_)
        fail("its folder was moved or replaced while it was being written");
    return folder;
}

// A hard link to the file now at the name, under a hidden temporary name; empty when there is
// none, or when the file system has no hard links (the old file is then not kept).
std::string PendingFile::linkOldAside(int folder) const {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = temporaryName();
        if (::linkat(folder, name_.c_str(), folder, candidate.c_str(), 0) == 0)
            return candidate;
        if (errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK)
            return {};
        if (errno != EEXIST)
            failWithErrno(errno);
    }
    fail("no temporary name could be made beside it");
}

void PendingFile::nameParked(bool replaceExisting) {
    const UniqueFd folder = reopenFolder();
    const char* const parked = temporaryName_.c_str();
    if (replaceExisting) {
        std::string old = linkOldAside(folder.get());
        if (::renameat(folder.get(), parked, folder.get(), name_.c_str()) != 0) {
            const int error = errno;
            if (!old.empty())
                ::unlinkat(folder.get(), old.c_str(), 0);
            failWithErrno(error);
        }
        oldFileName_ = std::move(old);
    } else {
        if (::linkat(folder.get(), parked, folder.get(), name_.c_str(), 0) != 0)
            fail(errno == EEXIST ? "a file is already there" : std::strerror(errno));
        ::unlinkat(folder.get(), parked, 0);
    }
    temporaryName_.clear();
    pending_ = false;
    named_ = true;
}

void PendingFile::unname() noexcept {
    if (!named_)
        return;
    named_ = false;
    try {
        const UniqueFd folder = reopenFolder();
        if (!oldFileName_.empty())
            ::renameat(folder.get(), oldFileName_.c_str(), folder.get(), name_.c_str());
        else
            ::unlinkat(folder.get(), name_.c_str(), 0);
    } catch (const FileError&) {
        // The folder is gone or moved: nothing is left to put back.
    }
    oldFileName_.clear();
}

void PendingFile::dropOld() noexcept {
    if (oldFileName_.empty())
        return;
    try {
        ::unlinkat(reopenFolder().get(), oldFileName_.c_str(), 0);
    } catch (const FileError&) {
    }
    oldFileName_.clear();
}

void PendingFile::nameTogether(const std::vector<PendingFile*>& files, bool replaceExisting,
                               bool syncToDisk, const std::atomic<bool>* cancel) {
    std::size_t named = 0;
    try {
        for (PendingFile* file : files) {
            if (cancel && cancel->load())
                throw ConversionCancelled(
                    outputFailure(file->shownAs_, "the conversion was cancelled", file->fileKind_));
            file->nameParked(replaceExisting);
            ++named;
        }
        if (cancel && cancel->load() && !files.empty())
            throw ConversionCancelled(outputFailure(
                files.back()->shownAs_, "the conversion was cancelled", files.back()->fileKind_));
    } catch (...) {
        while (named > 0)
            files[--named]->unname();
        throw;
    }
    std::vector<std::pair<dev_t, ino_t>> synced;
    for (PendingFile* file : files) {
        file->named_ = false;
        file->dropOld();
        if (!syncToDisk ||
            std::find(synced.begin(), synced.end(), file->folderIdentity_) != synced.end())
            continue;
        synced.push_back(file->folderIdentity_);
        const UniqueFd folder(
            ::open(file->folderPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder)
            ::fsync(folder.get());
    }
}

} // namespace kestrova::speech
