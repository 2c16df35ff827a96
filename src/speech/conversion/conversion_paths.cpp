#include "speech/conversion_paths.h"

#include "speech/quoted_name.h"

#include <map>
#include <sys/stat.h>
#include <tuple>
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

// What a path is: a file that exists by its device and inode, else the resolved path.
using Identity = std::tuple<dev_t, ino_t, std::string>;

struct Found {
    Identity identity;
    bool device = false; // a character device
};

Found identityOf(const fs::path& path, bool standardOutput) {
    struct stat status {};
    const int found =
        standardOutput ? ::fstat(STDOUT_FILENO, &status) : ::stat(path.c_str(), &status);
    if (found == 0)
        return {.identity = {status.st_dev, status.st_ino, {}}, .device = S_ISCHR(status.st_mode)};
    // Standard output closed: nothing it could clash with.
    return {.identity = {0, 0, standardOutput ? "" : resolvedPath(path).native()}, .device = false};
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
    // Per file, the first entry that names it and the first that writes it.
    struct Seen {
        const Entry* first = nullptr;
        const Entry* writer = nullptr;
    };
    std::map<Identity, Seen> seen;
    for (const Entry& entry : entries_) {
        const Found found = identityOf(entry.path, entry.standardOutput);
        if (found.device)
            continue;
        Seen& file = seen[found.identity];
        const Entry* other = entry.written ? file.first : file.writer;
        if (other)
            throw PathClash(clash(*other, entry));
        if (!file.first)
            file.first = &entry;
        if (entry.written && !file.writer)
            file.writer = &entry;
    }
}

std::string ConversionPaths::clash(const Entry& first, const Entry& second) {
    if (first.path == second.path && !first.standardOutput)
        return first.role + " and " + second.role + " both name the file " +
               quotedName(first.path.native());
    return first.shown() + " and " + second.shown() + " are the same file";
}

std::vector<std::filesystem::path> ConversionPaths::written() const {
    std::vector<std::filesystem::path> paths;
    for (const Entry& entry : entries_)
        if (entry.written && !entry.standardOutput)
            paths.push_back(entry.path);
    return paths;
}

} // namespace kestrova::speech
