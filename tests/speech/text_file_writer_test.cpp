// The files made from a conversion's timings: the JSON read back by Python's parser, the
// subtitles' cues (split between words, timed in proportion, never overlapping), every
// WebVTT file checked by the format's rules, the cue sheet's frames, and the writer that puts
// them on disk as carefully as the sound.

#include "speech/conversion/side_files/subtitle_cues.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/webvtt_checker.h"
#include "timing_files_cases.h"

#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

// ---- The careful writer -----------------------------------------------------------------

struct WriteCase {
    std::string name;
    // Makes what is at scratch/"out.srt" before the write.
    std::function<void(const ScratchDir&)> prepare;
    bool replaceExisting;
    std::string failure; // the reason given, or empty for success
};

void PrintTo(const WriteCase& entry, std::ostream* out) {
    *out << entry.name;
}

class TextFileWriter : public ::testing::TestWithParam<WriteCase> {
protected:
    void SetUp() override { previousMask_ = ::umask(022); }
    void TearDown() override { ::umask(previousMask_); }
    mode_t previousMask_ = 0;
};

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// A file at the name: replaced only when allowed, keeping its mode; a link written through;
// anything else refused with nothing in the folder changed and nothing left behind.
TEST_P(TextFileWriter, WritesAsCarefullyAsTheSound) {
    ScratchDir scratch;
    GetParam().prepare(scratch);
    const test::Snapshot before = test::snapshot(scratch.path());
    const fs::path path = scratch / "out.srt";
    std::string failure;
    try {
        writeTextFile(path, "new text\n", "subtitle file", GetParam().replaceExisting);
    } catch (const FileError& error) {
        failure = error.what();
    }
    EXPECT_TRUE(test::leftoverParts(scratch.path()).empty());
    if (!GetParam().failure.empty()) {
        EXPECT_EQ(failure, "cannot write the subtitle file \"" + path.string() +
                               "\": " + GetParam().failure);
        EXPECT_EQ(test::snapshot(scratch.path()), before);
        return;
    }
    ASSERT_EQ(failure, "");
    EXPECT_EQ(test::readBytes(path), "new text\n");
    const fs::path file = fs::canonical(path);
    const bool existed = before.count(file.filename().string()) != 0;
    EXPECT_EQ(modeOf(file), existed ? 0640u : 0644u);
    if (fs::is_symlink(path)) {
        EXPECT_EQ(fs::read_symlink(path), "real.srt");
    }
}

void oldFile(const fs::path& path) {
    test::writeBytes(path, "old text, longer than the new\n");
    fs::permissions(path, fs::perms(0640));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextFileWriter,
    ::testing::Values(
        WriteCase{"new file", [](const ScratchDir&) {}, false, ""},
        WriteCase{"replaced keeping its mode", [](const ScratchDir& s) { oldFile(s / "out.srt"); },
                  true, ""},
        WriteCase{"not replaced unless allowed",
                  [](const ScratchDir& s) { oldFile(s / "out.srt"); }, false,
                  "a file is already there"},
        WriteCase{"written through a link",
                  [](const ScratchDir& s) {
                      oldFile(s / "real.srt");
                      fs::create_symlink("real.srt", s / "out.srt");
                  },
                  true, ""},
        WriteCase{"dangling link refused",
                  [](const ScratchDir& s) { fs::create_symlink("gone.srt", s / "out.srt"); }, true,
                  "not writing through a dangling link"},
        WriteCase{"folder refused",
                  [](const ScratchDir& s) { fs::create_directory(s / "out.srt"); }, true,
                  "it is a folder"},
        WriteCase{"FIFO refused, not waited on",
                  [](const ScratchDir& s) { ::mkfifo((s / "out.srt").c_str(), 0644); }, true,
                  "it is a FIFO, not a file; only a file or a character device can take it"}));

struct DeviceCase {
    std::string device;
    std::string failure;
};

class TextFileIntoDevice : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(TextFileIntoDevice, WritesIntoACharacterDeviceAsItStands) {
    std::string failure;
    try {
        writeTextFile(GetParam().device, "{}\n", "timings file", true);
    } catch (const FileError& error) {
        failure = error.what();
    }
    EXPECT_EQ(failure, GetParam().failure);
    EXPECT_TRUE(fs::is_character_file(GetParam().device));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextFileIntoDevice,
    ::testing::Values(DeviceCase{"/dev/null", ""},
                      DeviceCase{"/dev/full", "cannot write the timings file \"/dev/full\": No "
                                              "space left on device"}));

} // namespace
} // namespace kestrova::speech
