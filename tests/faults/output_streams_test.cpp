// What the real kestrova-wav-cli does with what it finds at the output path: a character
// device is written into, a FIFO and standard output get a stream, a link is written
// through, a socket, a block device and a dangling link are refused, a replaced file keeps
// its mode, owner and group, a name of 255 bytes works. And that no death of the converter,
// SIGKILL included, leaves anything in the folder, with or without unnamed files.

#include "output_target_cases.h"
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

// ---- streams ---------------------------------------------------------------------------

// The samples of a sound held in bytes, read back through a file.
std::vector<short> samplesOf(const std::string& bytes, const fs::path& scratchFile) {
    test::writeBytes(scratchFile, bytes);
    const auto sound = test::readSound(scratchFile);
    return sound ? sound->samples : std::vector<short>{};
}

struct StreamCase {
    const char* name;
    std::vector<std::string> type; // --type TYPE, or nothing for the default
    const char* ending;            // of the same sound written as a file, for comparison
};

void PrintTo(const StreamCase& entry, std::ostream* out) {
    *out << entry.name;
}

class StandardOutput : public ::testing::TestWithParam<StreamCase> {};

// Through a real pipe: the same samples as the file, the summary on standard error only.
TEST_P(StandardOutput, CarriesTheSoundAndNothingElse) {
    const StreamCase& c = GetParam();
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text to speak.");
    std::string type;
    for (const std::string& word : c.type)
        type += " " + word;
    const std::string command = "set -o pipefail; '" + std::string(cliPath) +
                                "' convert -j 1 -o -" + type + " in.txt | cat > piped";
    RunningProgram piped("/bin/bash", {"-c", command}, scratch.path());
    const Outcome outcome = piped.wait(60s);
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_EQ(test::lineCount(outcome.standardError), 1u) << outcome.standardError;
    EXPECT_TRUE(outcome.standardError.starts_with("standard output: ")) << outcome.standardError;

    const std::string file = std::string("file.") + c.ending;
    std::vector<std::string> arguments{"convert", "-q", "-j", "1", "-o", file};
    arguments.insert(arguments.end(), c.type.begin(), c.type.end());
    arguments.push_back("in.txt");
    RunningProgram direct(cliPath, arguments, scratch.path());
    ASSERT_EQ(direct.wait(60s).exitStatus(), 0);
    const std::string pipedBytes = test::readBytes(scratch / "piped");
    if (std::string(c.ending) == "raw") {
        EXPECT_EQ(pipedBytes, test::readBytes(scratch / file));
    } else {
        const auto fromFile = test::readSound(scratch / file);
        ASSERT_TRUE(fromFile);
        EXPECT_GT(fromFile->samples.size(), 22050u);
        std::filesystem::path copy = scratch / (std::string("copy.") + c.ending);
        EXPECT_TRUE(samplesOf(pipedBytes, copy) == fromFile->samples) << "other samples";
    }
    std::vector<std::string> names{file, "in.txt", "piped"};
    if (std::string(c.ending) != "raw")
        names.push_back(std::string("copy.") + c.ending);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(scratch.names(), names);
}

INSTANTIATE_TEST_SUITE_P(Types, StandardOutput,
                         test::sweep(StreamCase{"DefaultAu", {}, "au"},
                                     StreamCase{"Flac", {"--type", "flac"}, "flac"},
                                     StreamCase{"Raw", {"--type", "raw"}, "raw"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StandardOutputRefusal, AWaveFileCannotBePiped) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text to speak.");
    const std::string command =
        "'" + std::string(cliPath) + "' convert -q --type wav -o - in.txt | cat > piped";
    RunningProgram piped("/bin/bash", {"-c", "set -o pipefail; " + command}, scratch.path());
    const Outcome outcome = piped.wait(60s);
    EXPECT_EQ(outcome.exitStatus(), 1);
    EXPECT_EQ(outcome.standardError,
              "kestrova-wav-cli: cannot write the wave file \"standard output\": a wave file "
              "cannot be streamed into a pipe (au, flac, ogg, opus, mp3 and raw can)\n");
    EXPECT_EQ(test::readBytes(scratch / "piped"), "");
}

// A FIFO at the path gets the stream, AU by default, and stays a FIFO.
TEST(Fifo, GetsTheStream) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text to speak.");
    ASSERT_EQ(::mkfifo((scratch / "out.wav").c_str(), 0640), 0);
    RunningProgram cli(cliPath, {"convert", "-q", "-o", "out.wav", "in.txt"}, scratch.path());
    std::string received;
    {
        std::ifstream reader(scratch / "out.wav", std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(reader), {});
    }
    const Outcome outcome = cli.wait(60s);
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_EQ(outcome.standardError, "");
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(received.substr(0, 4), ".snd");
    EXPECT_GT(samplesOf(received, scratch / "copy.au").size(), 22050u);
    struct stat status {};
    ASSERT_EQ(::lstat((scratch / "out.wav").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

// ---- deaths ----------------------------------------------------------------------------

struct DeathCase {
    const char* name;
    int signal;
    bool unnamedFiles; // else the file system is made to refuse O_TMPFILE
    bool fileThere;
};

void PrintTo(const DeathCase& entry, std::ostream* out) {
    *out << entry.name;
}

class Death : public ::testing::TestWithParam<DeathCase> {};

// Killed in the middle of the rendering: nothing new in the folder, a file already there as
// it was. With unnamed files even SIGKILL leaves nothing; on the named fallback every signal
// that can be caught removes the temporary file.
TEST_P(Death, LeavesTheFolderAsItWas) {
    const DeathCase& c = GetParam();
    test::ScratchDir scratch;
    test::writeBytes(scratch / "long.txt", sentences(200000));
    if (c.fileThere)
        test::writeBytes(scratch / "long.wav", oldContent);
    const auto before = listing(scratch.path());
    ProgramSetup setup;
    setup.withoutUnnamedFiles = !c.unnamedFiles;
    RunningProgram cli(cliPath, {"convert", "-q", "-e", "Flite slt", "long.txt"}, scratch.path(),
                       setup);
    ASSERT_TRUE(cli.waitFor(
        [&] { return test::unfinishedOutput(cli.pid(), scratch.path()).value_or(0) > 0; }));
    // The unnamed file has no name in the folder; the fallback's has.
    EXPECT_EQ(test::leftoverParts(scratch.path()).size(), c.unnamedFiles ? 0u : 1u);
    ::kill(cli.pid(), c.signal);
    const Outcome outcome = cli.wait(30s);
    if (c.signal == SIGTERM)
        EXPECT_EQ(outcome.exitStatus(), 128 + SIGTERM); // the converter's own stop
    else
        EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == c.signal)
            << "status " << outcome.status;
    test::survivors();
    EXPECT_EQ(listing(scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Signals, Death,
                         test::sweep(DeathCase{"Kill", SIGKILL, true, false},
                                     DeathCase{"KillOverAFile", SIGKILL, true, true},
                                     DeathCase{"QuitOverAFile", SIGQUIT, true, true},
                                     DeathCase{"NamedFallbackQuit", SIGQUIT, false, false},
                                     DeathCase{"NamedFallbackUser1", SIGUSR1, false, true},
                                     DeathCase{"NamedFallbackAlarm", SIGALRM, false, false},
                                     DeathCase{"NamedFallbackTerminate", SIGTERM, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// On the named fallback a conversion still completes, replacing a file and keeping its mode,
// and leaves no temporary file.
TEST(NamedFallback, CompletesAndLeavesNothingElse) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text to speak.");
    test::writeBytes(scratch / "out.wav", oldContent);
    ::chmod((scratch / "out.wav").c_str(), 0600);
    ProgramSetup setup;
    setup.withoutUnnamedFiles = true;
    RunningProgram cli(cliPath, {"convert", "-q", "-o", "out.wav", "in.txt"}, scratch.path(),
                       setup);
    const Outcome outcome = cli.wait(60s);
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_TRUE(test::readSound(scratch / "out.wav"));
    EXPECT_EQ(fs::status(scratch / "out.wav").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "out.wav"}));
}

} // namespace
} // namespace kestrova
