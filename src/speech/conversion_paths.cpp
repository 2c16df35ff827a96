#include "conversion_paths.h"

#include "speech/quoted_name.h"

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

namespace fs = std::filesystem;

// What a path will be once written: through every link at its end, as the writers follow
// them (a dangling link included), then with the folders' links and ".." resolved.
fs::path resolvedPath(fs::path path) {
    constexpr int mostLinks = 40; // as the kernel's own limit on a path's links
    std::error_code error;
    for (int link = 0; link < mostLinks && fs::is_symlink(fs::symlink_status(path, error));
         ++link) {
        const fs::path target = fs::read_symlink(path, error);
        if (error)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const fs::path absolute = fs::absolute(path, error);
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : resolved;
}

struct Identity {
    std::optional<std::pair<dev_t, ino_t>> file; // an existing file
    bool device = false;                         // a character device
    fs::path resolved;                           // a path that does not exist yet

    bool same(const Identity& other) const {
        if (file || other.file)
            return file == other.file;
        return resolved == other.resolved;
    }
};

Identity identityOf(const fs::path& path, bool standardOutput) {
    struct stat status {};
    const int found =
        standardOutput ? ::fstat(STDOUT_FILENO, &status) : ::stat(path.c_str(), &status);
    if (found == 0)
        return {.file = std::pair(status.st_dev, status.st_ino),
                .device = S_ISCHR(status.st_mode),
                .resolved = {}};
    // Standard output closed: nothing it could clash with.
    return {.file = std::nullopt,
            .device = false,
            .resolved = standardOutput ? fs::path("standard output") : resolvedPath(path)};
}

} // namespace

std::string ConversionPaths::Entry::shown() const {
    return standardOutput ? role : role + " " + quotedName(path.native());
}

void ConversionPaths::addRead(std::string role, std::filesystem::path path) {
    entries_.push_back({.role = std::move(role), .path = std::move(path)});
}

void ConversionPaths::addWritten(std::string role, std::filesystem::path path) {
    entries_.push_back({.role = std::move(role), .path = std::move(path), .written = true});
}

void ConversionPaths::addStandardOutput(std::string role) {
    entries_.push_back({.role = std::move(role),
                        .path = "standard output",
                        .written = true,
                        .standardOutput = true});
}

void ConversionPaths::add(const ConversionPaths& other) {
    entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end());
}

void ConversionPaths::check() const {
    std::vector<Identity> identities;
    identities.reserve(entries_.size());
    for (const Entry& entry : entries_)
        identities.push_back(identityOf(entry.path, entry.standardOutput));
    for (std::size_t later = 1; later < entries_.size(); ++later) {
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            const Entry& first = entries_[earlier];
            const Entry& second = entries_[later];
            if (!(first.written || second.written) || identities[later].device ||
                !identities[earlier].same(identities[later]))
                continue;
            if (first.path == second.path && !first.standardOutput)
                throw PathClash(first.role + " and " + second.role + " both name the file " +
                                quotedName(first.path.native()));
            throw PathClash(first.shown() + " and " + second.shown() + " are the same file");
        }
    }
}

std::vector<std::filesystem::path> ConversionPaths::written() const {
    std::vector<std::filesystem::path> paths;
    for (const Entry& entry : entries_)
        if (entry.written && !entry.standardOutput)
            paths.push_back(entry.path);
    return paths;
}

} // namespace kestrova::speech
