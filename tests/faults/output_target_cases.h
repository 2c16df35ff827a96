#pragma once

// Shared by the output_target tests.

#include "cli_path.h"
#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

namespace kestrova {
namespace {

using test::Outcome;
using test::ProgramSetup;
using test::RunningProgram;
using test::sentences;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string oldContent = "the older file";

// An entry as lstat sees it, with a regular file's bytes and a link's text.
struct Entry {
    mode_t mode = 0; // type and permission bits
    uid_t owner = 0;
    gid_t group = 0;
    nlink_t links = 0;
    dev_t device = 0; // of a device node
    std::string content;

    friend bool operator==(const Entry&, const Entry&) = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
    return out << std::oct << entry.mode << std::dec << " " << entry.owner << ":" << entry.group
               << " links " << entry.links << " " << entry.content.size() << " bytes";
}

inline std::map<std::string, Entry> listing(const fs::path& folder) {
    std::map<std::string, Entry> entries;
    for (const auto& item : fs::directory_iterator(folder)) {
        struct stat status {};
        ::lstat(item.path().c_str(), &status);
        Entry entry{status.st_mode,  status.st_uid,  status.st_gid,
                    status.st_nlink, status.st_rdev, ""};
        if (S_ISREG(status.st_mode))
            entry.content = test::readBytes(item.path());
        else if (S_ISLNK(status.st_mode))
            entry.content = fs::read_symlink(item.path()).string();
        entries[item.path().filename().string()] = entry;
    }
    return entries;
}

} // namespace
} // namespace kestrova
