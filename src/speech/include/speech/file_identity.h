#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace kestrova::speech {

// What tells one file from another, and one version of a file from the next: the device and
// inode, the size and the time of the last change to its content.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    static FileIdentity of(const struct stat& status);
    // Follows links; nullopt with errno set when the path cannot be looked at.
    static std::optional<FileIdentity> ofPath(const std::filesystem::path& path);

    bool sameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

} // namespace kestrova::speech
