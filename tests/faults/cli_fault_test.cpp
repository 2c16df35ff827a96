// Faults around a real conversion by the real kestrova-wav-cli: the disk filling up, folders
// that refuse the file, a text file that is missing, unreadable or taken away, stop signals
// and engines killed in the middle of the text. After each: the exit status, one line on
// standard error naming the file, nothing new in the folder (a file already at the target
// byte for byte as it was), the text file as it was, and no process left running.

#include "cli_fault_cases.h"
#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>

namespace kestrova {
namespace {

// Where the wave file is to go, and what is wrong there.
enum class Place { Missing, Folder, ReadOnly, SmallDisk, FileSizeLimit };

struct OutputCase {
    const char* name;
    Place place;
    const char* output; // -o, in the scratch folder
    bool fileThere;     // a file is already at the output
};

void PrintTo(const OutputCase& entry, std::ostream* out) {
    *out << entry.name;
}

class OutputFault : public CliFault, public ::testing::WithParamInterface<OutputCase> {};

// A conversion that cannot write its output, from the start or after a while, fails naming
// the output and leaves everything as it was.
TEST_P(OutputFault, FailsNamingTheOutputAndLeavesEverything) {
    const OutputCase& c = GetParam();
    const bool root = test::runningAsRoot();
    // Some 40 minutes of speech: 445 MB of wave at 48 kHz 16-bit stereo (-f 39).
    test::writeBytes(at("in.txt"), sentences(30000));
    ProgramSetup setup;
    std::string reason;
    const std::string old = "the older file, kept byte for byte";
    switch (c.place) {
    case Place::Missing:
        reason = "No such file or directory";
        break;
    case Place::Folder:
        fs::create_directory(at("folder"));
        reason = "folder";
        break;
    case Place::ReadOnly:
        fs::create_directory(at("ro"));
        if (root) {
            // Permissions do not stop root: a file system mounted read-only does.
            if (!test::privateMountTable())
                GTEST_SKIP() << "root without a private mount table cannot make a read-only "
                                "folder";
            mount.emplace(at("ro"), 1 << 20);
            ASSERT_TRUE(mount->mounted());
            if (c.fileThere)
                test::writeBytes(at(c.output), old);
            ASSERT_TRUE(mount->makeReadOnly());
            reason = "Read-only file system";
        } else {
            if (c.fileThere)
                test::writeBytes(at(c.output), old);
            fs::permissions(at("ro"), fs::perms::owner_read | fs::perms::owner_exec);
            reason = "Permission denied";
        }
        break;
    case Place::SmallDisk:
        fs::create_directory(at("small"));
        if (!test::privateMountTable())
            GTEST_SKIP() << "mounting a small file system needs root";
        mount.emplace(at("small"), 128 << 10);
        ASSERT_TRUE(mount->mounted());
        if (c.fileThere)
            test::writeBytes(at(c.output), old);
        reason = "No space left on device";
        break;
    case Place::FileSizeLimit:
        if (c.fileThere)
            test::writeBytes(at(c.output), old);
        // Above 64 MiB: eSpeak NG's audio probe at its start (PulseAudio, through
        // libpcaudio) sizes a shared memory file of 64 MiB, and a smaller limit makes it
        // write a line of its own on standard error.
        setup.fileSizeBytes = 65 << 20;
        reason = "File too large";
        break;
    }
    const Snapshot before = test::snapshot(scratch.path());
    const Outcome outcome = run({"convert", "-q", "-f", "39", "-o", c.output, "in.txt"}, setup);
    expectCleanFailure(outcome, 1, c.output, reason, before);
}

INSTANTIATE_TEST_SUITE_P(
    Places, OutputFault,
    test::sweep(OutputCase{"FolderMissing", Place::Missing, "nowhere/out.wav", false},
                OutputCase{"OutputIsAFolder", Place::Folder, "folder", false},
                OutputCase{"OutputNamesAFolder", Place::Folder, "folder/", false},
                OutputCase{"ReadOnlyFolder", Place::ReadOnly, "ro/out.wav", false},
                OutputCase{"ReadOnlyFolderOverAFile", Place::ReadOnly, "ro/out.wav", true},
                OutputCase{"DiskFills", Place::SmallDisk, "small/out.wav", false},
                OutputCase{"DiskFillsOverAFile", Place::SmallDisk, "small/out.wav", true},
                OutputCase{"DiskFillsM4b", Place::SmallDisk, "small/out.m4b", false},
                OutputCase{"DiskFillsOverAnM4b", Place::SmallDisk, "small/out.m4b", true},
                OutputCase{"FileSizeLimit", Place::FileSizeLimit, "out.wav", false},
                OutputCase{"FileSizeLimitOverAFile", Place::FileSizeLimit, "out.wav", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The samples kept for the second pass of --loudness fill their disk, in $TMPDIR or beside
// the output, through an unnamed file or one whose name is removed at once, or the output's
// disk fills in the second pass: the conversion fails naming its output and the reason, and
// leaves nothing anywhere.
TEST_F(CliFault, LoudnessSpoolFillsTheDisk) {
    std::optional<ProgramSetup> small = temporaryOnASmallDisk();
    if (!small)
        GTEST_SKIP() << "mounting a small file system needs root";
    ProgramSetup& inTemporary = *small;
    test::writeBytes(at("in.txt"), sentences(3000));
    const Snapshot before = test::snapshot(scratch.path());
    expectCleanFailure(
        run({"convert", "-q", "--loudness", "-18", "-o", "out.mp3", "in.txt"}, inTemporary), 1,
        "out.mp3", "No space left on device", before);
    inTemporary.withoutUnnamedFiles = true;
    expectCleanFailure(
        run({"convert", "-q", "--loudness", "-18", "-o", "out.wav", "in.txt"}, inTemporary), 1,
        "out.wav", "No space left on device", before);
    ProgramSetup beside;
    beside.environment = {{"TMPDIR", std::nullopt}};
    expectCleanFailure(
        run({"convert", "-q", "--loudness", "-18", "-o", "small/out.wav", "in.txt"}, beside), 1,
        "small/out.wav", "No space left on device", before);
    // The spool has room, the output not: the second pass fails while its samples are still
    // being read back and limited on another thread.
    ProgramSetup spoolWithRoom;
    spoolWithRoom.environment = {{"TMPDIR", scratch.path().string()}};
    expectCleanFailure(
        run({"convert", "-q", "--loudness", "-18", "-o", "small/out.wav", "in.txt"}, spoolWithRoom),
        1, "small/out.wav", "No space left on device", before);
}

// A read-along book's pieces (its narration, its audio files) are made in a private folder
// of $TMPDIR: that disk full fails the book, named as the user's file, with the folder said,
// and the folder goes.
TEST_F(CliFault, ReadAlongPiecesFillTheDisk) {
    const std::optional<ProgramSetup> inTemporary = temporaryOnASmallDisk();
    if (!inTemporary)
        GTEST_SKIP() << "mounting a small file system needs root";
    test::writeBytes(at("in.txt"), sentences(3000));
    const Snapshot before = test::snapshot(scratch.path());
    expectCleanFailure(run({"convert", "-q", "-o", "out.epub", "in.txt"}, *inTemporary), 1,
                       "out.epub",
                       "No space left on device (in the folder of its pieces, \"" +
                           at("small").string() + "/kestrova-voice-",
                       before);
}

// The output's folder removed while the file is written, as when a removable disk is
// pulled: the finished file cannot take its name, and the failure names it.
TEST_F(CliFault, OutputFolderRemovedWhileRendering) {
    test::writeBytes(at("in.txt"), sentences(20000));
    const Snapshot before = test::snapshot(scratch.path());
    fs::create_directory(at("out"));
    RunningProgram cli(cliPath, {"convert", "-q", "-f", "4", "-o", "out/speech.wav", "in.txt"},
                       scratch.path());
    ASSERT_TRUE(
        cli.waitFor([&] { return test::unfinishedOutput(cli.pid(), at("out")).has_value(); }));
    fs::remove_all(at("out"));
    expectCleanFailure(cli.wait(), 1, "out/speech.wav", "No such file or directory", before);
}

// A thousand jobs asked for one sentence: one worker starts (and the process it forks for
// the chunk), not a thousand.
TEST_F(CliFault, ManyJobsStartNoMoreWorkersThanChunks) {
    test::writeBytes(at("in.txt"), "One short sentence.");
    RunningProgram cli(cliPath, {"convert", "-q", "-e", "slt", "-j", "1000", "in.txt"},
                       scratch.path());
    std::size_t most = 0;
    cli.waitFor([&] {
        most = std::max(most, test::descendantsOf(cli.pid()).size());
        return false;
    });
    const Outcome outcome = cli.wait();
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_LE(most, 2u);
    EXPECT_GT(test::readSound(at("in.wav"))->info.frames, 0);
}

enum class TextFault { Missing, Unreadable, EndlessDevice, Fifo };

struct InputCase {
    const char* name;
    TextFault fault;
    bool outputThere;
};

void PrintTo(const InputCase& entry, std::ostream* out) {
    *out << entry.name;
}

class InputFault : public CliFault, public ::testing::WithParamInterface<InputCase> {};

// The text file is read to its end before the rendering: a device without an end, or a
// FIFO nobody writes, must fail at once, not hang where no stop signal is looked at.
TEST_P(InputFault, FailsNamingTheTextFileAndLeavesEverything) {
    const InputCase& c = GetParam();
    std::string reason = "No such file or directory";
    switch (c.fault) {
    case TextFault::Missing:
        break;
    case TextFault::Unreadable:
        if (test::runningAsRoot())
            GTEST_SKIP() << "root reads a file whatever its permissions";
        test::writeBytes(at("in.txt"), "A text nobody may read.");
        fs::permissions(at("in.txt"), fs::perms::none);
        reason = "Permission denied";
        break;
    case TextFault::EndlessDevice:
        fs::create_symlink("/dev/zero", at("in.txt"));
        reason = "not a regular file";
        break;
    case TextFault::Fifo:
        ASSERT_EQ(::mkfifo(at("in.txt").c_str(), 0600), 0);
        reason = "not a regular file";
        break;
    }
    if (c.outputThere)
        test::writeBytes(at("out.wav"), "an older file");
    const auto before = test::snapshot(scratch.path());
    RunningProgram cli(cliPath, {"convert", "-q", "-o", "out.wav", "in.txt"}, scratch.path());
    expectCleanFailure(cli.wait(20s), 1, "in.txt", reason, before);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InputFault,
    test::sweep(InputCase{"Missing", TextFault::Missing, false},
                InputCase{"MissingWithAnOutputThere", TextFault::Missing, true},
                InputCase{"Unreadable", TextFault::Unreadable, false},
                InputCase{"UnreadableWithAnOutputThere", TextFault::Unreadable, true},
                InputCase{"EndlessDevice", TextFault::EndlessDevice, true},
                InputCase{"FifoWithoutAWriter", TextFault::Fifo, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The text file taken away while it is rendered: the converter reads it through the file it
// opened, so the conversion completes, and to the same bytes as one left alone. The text is
// longer than the 64 KiB read at a time, so most of it is read after it was taken away, and
// quick to speak.
enum class TakenAway { Deleted, ReplacedByAnother };

class TextTakenAway : public CliFault, public ::testing::WithParamInterface<TakenAway> {
protected:
    static const std::string& text() {
        static const std::string text = test::spacedSentences(70000);
        return text;
    }
    // The wave file of the text left alone, rendered once for every case.
    static const std::string& leftAlone() {
        static const std::string wave = [] {
            test::ScratchDir folder;
            test::writeBytes(folder / "in.txt", text());
            RunningProgram cli(cliPath, {"convert", "-q", "-f", "4", "in.txt"}, folder.path());
            return cli.wait().exitStatus() == 0 ? test::readBytes(folder / "in.wav") : "";
        }();
        return wave;
    }
};

TEST_P(TextTakenAway, CompletesFromTheOpenFile) {
    ASSERT_NE(leftAlone(), "");
    test::writeBytes(at("in.txt"), text());
    RunningProgram cli(cliPath, {"convert", "-q", "-f", "4", "in.txt"}, scratch.path());
    // The output is open once the text file is.
    ASSERT_TRUE(
        cli.waitFor([&] { return test::unfinishedOutput(cli.pid(), scratch.path()).has_value(); }));
    if (GetParam() == TakenAway::Deleted) {
        fs::remove(at("in.txt"));
    } else {
        test::writeBytes(at("other.txt"), "Another text altogether.");
        fs::rename(at("other.txt"), at("in.txt"));
    }
    const Outcome outcome = cli.wait();
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_EQ(outcome.standardError, "");
    EXPECT_TRUE(test::readBytes(at("in.wav")) == leftAlone()) << "not the whole text";
    EXPECT_EQ(test::leftoverParts(scratch.path()), std::vector<std::string>{});
    EXPECT_EQ(test::survivors(), std::vector<pid_t>{});
}

INSTANTIATE_TEST_SUITE_P(Ways, TextTakenAway,
                         test::sweep(TakenAway::Deleted, TakenAway::ReplacedByAnother),
                         [](const auto& info) {
                             return info.param == TakenAway::Deleted ? "Deleted"
                                                                     : "ReplacedByAnother";
                         });
} // namespace
} // namespace kestrova
