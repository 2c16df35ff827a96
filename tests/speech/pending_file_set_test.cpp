// Chapter files named as one set: parked files hold no descriptor, and a failure part way
// through puts every old file back.

#include "speech/audio/output_files/pending_file.h"
#include "speech/speech_error.h"
#include "support/test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

using test::ScratchDir;
namespace fs = std::filesystem;

// Three new files, parked, for the names a, b and c.
std::vector<std::unique_ptr<PendingFile>> parkedFiles(const ScratchDir& scratch) {
    std::vector<std::unique_ptr<PendingFile>> files;
    for (const char* name : {"a", "b", "c"}) {
        auto& file = files.emplace_back(
            std::make_unique<PendingFile>(scratch.path(), name, scratch / name, nullptr));
        const std::string content = std::string("new ") + name;
        EXPECT_EQ(::write(file->fd(), content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        file->park(false);
    }
    return files;
}

std::vector<PendingFile*> pointers(const std::vector<std::unique_ptr<PendingFile>>& files) {
    std::vector<PendingFile*> set;
    for (const auto& file : files)
        set.push_back(file.get());
    return set;
}

TEST(PendingFileSet, ParkedFilesHoldNoDescriptorAndAreNamedTogether) {
    ScratchDir scratch;
    test::writeBytes(scratch / "b", "old b");
    const std::size_t before = test::openDescriptors();
    auto files = parkedFiles(scratch);
    EXPECT_EQ(test::openDescriptors(), before);
    PendingFile::nameTogether(pointers(files), true, true, nullptr);
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(test::readBytes(scratch / "b"), "new b");
}

// The last name is a folder, which no file may replace: a and b get their old state back.
TEST(PendingFileSet, AFailurePutsTheOldFilesBack) {
    ScratchDir scratch;
    test::writeBytes(scratch / "a", "old a");
    fs::create_directory(scratch / "c");
    {
        auto files = parkedFiles(scratch);
        EXPECT_THROW(PendingFile::nameTogether(pointers(files), true, false, nullptr), FileError);
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(test::readBytes(scratch / "a"), "old a");
}

// Without replacing, a file already at the last name stops the set, and the first two go.
TEST(PendingFileSet, NoClobberKeepsEverythingAsItWas) {
    ScratchDir scratch;
    test::writeBytes(scratch / "c", "old c");
    {
        auto files = parkedFiles(scratch);
        EXPECT_THROW(PendingFile::nameTogether(pointers(files), false, false, nullptr), FileError);
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"c"}));
    EXPECT_EQ(test::readBytes(scratch / "c"), "old c");
}

// A stop asked for while they are named: nothing of the new set stays.
TEST(PendingFileSet, ACancelLeavesTheOldSet) {
    ScratchDir scratch;
    test::writeBytes(scratch / "b", "old b");
    const std::atomic<bool> cancel{true};
    {
        auto files = parkedFiles(scratch);
        EXPECT_THROW(PendingFile::nameTogether(pointers(files), true, false, &cancel),
                     ConversionCancelled);
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"b"}));
    EXPECT_EQ(test::readBytes(scratch / "b"), "old b");
}

} // namespace
} // namespace kestrova::speech
