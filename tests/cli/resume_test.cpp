// A conversion ended halfway (SIGKILL, a stop signal) and started again with the same command:
// it takes the chunks the first run kept beside the output, renders the rest, and writes the
// same bytes as a conversion never stopped. Run by the real command line with real engines.

#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kestrova::cli::resume_test {

using test::Outcome;
namespace fs = std::filesystem;

class Resume : public ::testing::Test {
protected:
    Outcome convert(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "convert");
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }
    fs::path folder() const { return scratch / ("." + output + ".kestrova-resume"); }
    // The bytes of sound the folder keeps, in chunk files of their own (each written under
    // .part, then renamed) or in the sound file it names (a record each in an .index).
    std::uintmax_t keptBytes() const {
        std::error_code error;
        std::uintmax_t kept = 0;
        for (const auto& entry : fs::directory_iterator(folder(), error))
            if (entry.is_regular_file() && entry.path().extension() != ".part" &&
                entry.path().extension() != ".index")
                kept += entry.file_size();
        return kept;
    }
    // The output of a run never stopped, whole.EXT: what a resumed run must equal.
    std::uintmax_t renderWhole(std::vector<std::string> arguments) {
        arguments[arguments.size() - 2] = whole();
        arguments.insert(arguments.begin(), "--no-resume");
        EXPECT_EQ(convert(arguments).exitStatus(), 0);
        return fs::file_size(scratch / whole());
    }
    std::string whole() const { return "whole" + fs::path(output).extension().string(); }
    // Started, and ended by the signal once the folder keeps that many bytes of sound.
    void endOnceKept(std::uintmax_t bytes, const std::vector<std::string>& arguments, int signal) {
        std::vector<std::string> all = {"convert"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        test::RunningProgram cli(KESTROVA_CLI_PATH, all, scratch.path());
        ASSERT_TRUE(cli.waitFor([&] { return keptBytes() >= bytes; }));
        ::kill(cli.pid(), signal);
        const Outcome ended = cli.wait();
        ASSERT_FALSE(ended.exited() && ended.exitStatus() == 0) << "ended before the signal";
        EXPECT_FALSE(fs::exists(scratch / output));
        struct stat status {};
        ASSERT_EQ(::lstat(folder().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
    // Run again to the end: it says it took the kept chunks, leaves no folder, and writes what
    // a run never stopped wrote.
    void resumeAndCompare(const std::vector<std::string>& arguments) {
        const Outcome resumed = convert(arguments);
        ASSERT_EQ(resumed.exitStatus(), 0) << resumed.standardError;
        EXPECT_NE(resumed.standardError.find("chunks kept from an earlier run"), std::string::npos)
            << resumed.standardError;
        EXPECT_FALSE(fs::exists(folder()));
        // Not EXPECT_EQ: gtest's difference of two sound files would take the machine's memory.
        EXPECT_TRUE(test::readBytes(scratch / output) == test::readBytes(scratch / whole()))
            << "the resumed output differs from one never stopped";
    }

    // A chunk's worth: more than a wave file's header, less than any chunk's sound.
    static constexpr std::uintmax_t oneChunk = 1000;
    test::ScratchDir scratch;
    std::string output = "out.wav";
};

// The slowest case to render again: a slow speech program as the voice, each chunk its own run of
// it, killed with no chance to tidy up. A FLAC file does not hold the samples as they are: the
// chunks are kept in files of their own.
TEST_F(Resume, AVoiceCommandKilledHalfwayResumesToTheSameBytes) {
    output = "out.flac";
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += test::sentences(6) + "\n\n";
    test::writeBytes(scratch / "in.txt", text);
    const std::vector<std::string> arguments = {
        "-j", "2",        "--voice-command", "sleep 0.5; espeak-ng -v en-us --stdout",
        "-o", "out.flac", "in.txt"};
    renderWhole(arguments);
    endOnceKept(oneChunk, arguments, SIGKILL);
    resumeAndCompare(arguments);
}

// A read-along book keeps its narration's chunks beside the book, not in the private folder
// its pieces go with, and until the book is written.
TEST_F(Resume, AReadAlongBookKilledHalfwayResumesToTheSameBytes) {
    output = "out.epub";
    test::writeBytes(scratch / "in.md", "# A chapter\n\n" + test::sentences(12) + "\n");
    const std::vector<std::string> arguments = {
        "-j",       "2",    "--voice-command", "sleep 0.3; espeak-ng -v en-us --stdout", "-o",
        "out.epub", "in.md"};
    renderWhole(arguments);
    endOnceKept(oneChunk, arguments, SIGKILL);
    resumeAndCompare(arguments);
}

// A built-in engine carries its state along a run of chunks, so only whole runs are taken: a
// stop signal, damaged sound and a rerun with other settings must not change a sample. A
// wave file holds the samples as they are: the chunks are kept in the sound being written.
TEST_F(Resume, ABuiltInVoiceStoppedResumesToTheSameBytes) {
    // 17 chunks in runs of three to five, two runs rendered at a time: 60 % of the sound kept
    // holds a run whole.
    test::writeBytes(scratch / "in.txt", test::sentences(20000));
    const std::vector<std::string> arguments = {"-j", "2", "-o", "out.wav", "in.txt"};
    const std::uintmax_t wholeBytes = renderWhole(arguments);
    endOnceKept(wholeBytes * 6 / 10, {"-q", "-j", "2", "-o", "out.wav", "in.txt"}, SIGTERM);
    // The kept sound cut short and a byte of it changed, as by a power cut: the chunks there
    // fail their checks and are rendered again.
    fs::path largest;
    for (const auto& entry : fs::directory_iterator(folder()))
        if (largest.empty() || entry.file_size() > fs::file_size(largest))
            largest = entry.path();
    std::string damaged = test::readBytes(largest);
    damaged[damaged.size() / 3] ^= 0x10;
    damaged.resize(damaged.size() * 9 / 10);
    test::writeBytes(largest, damaged);
    // Another rate for the same output takes none of the chunks (and, complete, removes them).
    const fs::path copy = scratch / "copy";
    fs::copy(folder(), copy);
    const Outcome faster = convert({"--rate", "150", "-o", "out.wav", "in.txt"});
    ASSERT_EQ(faster.exitStatus(), 0) << faster.standardError;
    EXPECT_EQ(faster.standardError.find("kept from an earlier run"), std::string::npos);
    fs::remove(scratch / "out.wav");
    fs::rename(copy, folder());
    resumeAndCompare(arguments);
}

// The folder is trusted only when it is this user's own folder: a link there (to a folder
// another user could fill) fails the conversion before anything is rendered.
TEST_F(Resume, ALinkWhereTheFolderGoesIsRefused) {
    test::writeBytes(scratch / "in.txt", "One sentence.\n");
    fs::create_directory(scratch / "elsewhere");
    fs::create_directory_symlink("elsewhere", folder());
    const Outcome outcome = convert({"-q", "-o", "out.wav", "in.txt"});
    EXPECT_EQ(outcome.exitStatus(), 1);
    EXPECT_NE(outcome.standardError.find(".out.wav.kestrova-resume"), std::string::npos)
        << outcome.standardError;
    EXPECT_NE(outcome.standardError.find("symbolic link"), std::string::npos);
    EXPECT_FALSE(fs::exists(scratch / "out.wav"));
    EXPECT_EQ(convert({"-q", "--no-resume", "-o", "out.wav", "in.txt"}).exitStatus(), 0);
}

} // namespace kestrova::cli::resume_test
