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
    // How many chunks the folder holds whole (a chunk is written under .part, then renamed).
    std::size_t keptChunks() const {
        std::error_code error;
        std::size_t whole = 0;
        for (const auto& entry : fs::directory_iterator(folder(), error))
            whole += entry.is_regular_file() && entry.path().extension() != ".part";
        return whole;
    }
    // Started, and ended by the signal once the folder holds that many chunks whole.
    void endOnceKept(std::size_t chunks, const std::vector<std::string>& arguments, int signal) {
        std::vector<std::string> all = {"convert"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        test::RunningProgram cli(KESTROVA_CLI_PATH, all, scratch.path());
        ASSERT_TRUE(cli.waitFor([&] { return keptChunks() >= chunks; }));
        ::kill(cli.pid(), signal);
        const Outcome ended = cli.wait();
        ASSERT_FALSE(ended.exited() && ended.exitStatus() == 0) << "ended before the signal";
        EXPECT_FALSE(fs::exists(scratch / output));
        struct stat status {};
        ASSERT_EQ(::lstat(folder().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
    // Run again to the end: it says it took the kept chunks and leaves no folder.
    void resumeAndCompare(const std::vector<std::string>& arguments) {
        std::vector<std::string> again = arguments;
        const Outcome resumed = convert(again);
        ASSERT_EQ(resumed.exitStatus(), 0) << resumed.standardError;
        EXPECT_NE(resumed.standardError.find("chunks kept from an earlier run"), std::string::npos)
            << resumed.standardError;
        EXPECT_FALSE(fs::exists(folder()));
        const std::string whole = "whole" + fs::path(output).extension().string();
        again[again.size() - 2] = whole;
        again.insert(again.begin(), "--no-resume");
        ASSERT_EQ(convert(again).exitStatus(), 0);
        // Not EXPECT_EQ: gtest's difference of two sound files would take the machine's memory.
        EXPECT_TRUE(test::readBytes(scratch / output) == test::readBytes(scratch / whole))
            << "the resumed output differs from one never stopped";
    }

    test::ScratchDir scratch;
    std::string output = "out.wav";
};

// The slowest case to render again: a slow speech program as the voice, each chunk its own run of
// it, killed with no chance to tidy up.
TEST_F(Resume, AVoiceCommandKilledHalfwayResumesToTheSameBytes) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += test::sentences(6) + "\n\n";
    test::writeBytes(scratch / "in.txt", text);
    const std::vector<std::string> arguments = {
        "-j", "2",       "--voice-command", "sleep 0.5; espeak-ng -v en-us --stdout",
        "-o", "out.wav", "in.txt"};
    endOnceKept(1, arguments, SIGKILL);
    resumeAndCompare(arguments);
}

// A read-along book keeps its narration's chunks beside the book, not in the private folder
// its pieces go with, and until the book is written.
TEST_F(Resume, AReadAlongBookKilledHalfwayResumesToTheSameBytes) {
    output = "out.epub";
    test::writeBytes(scratch / "in.md", "# A chapter\n\n" + test::sentences(12) + "\n");
    const std::vector<std::string> arguments = {
        "-j", "2",        "--voice-command", "sleep 0.3; espeak-ng -v en-us --stdout",
        "-o", "out.epub", "in.md"};
    endOnceKept(2, arguments, SIGKILL);
    resumeAndCompare(arguments);
}

// A built-in engine carries its state along a run of chunks, so only whole runs are taken: a
// stop signal, a damaged chunk and a rerun with other settings must not change a sample.
TEST_F(Resume, ABuiltInVoiceStoppedResumesToTheSameBytes) {
    // 17 chunks in runs of three to five, two runs rendered at a time: ten chunks kept hold a
    // run whole.
    test::writeBytes(scratch / "in.txt", test::sentences(20000));
    endOnceKept(10, {"-q", "-j", "2", "-o", "out.wav", "in.txt"}, SIGTERM);
    // A chunk cut short and one with a byte of its samples changed, as by a power cut: each
    // fails its check and is rendered again.
    std::vector<fs::path> chunks;
    for (const auto& entry : fs::directory_iterator(folder()))
        chunks.push_back(entry.path());
    ASSERT_GE(chunks.size(), 2u);
    fs::resize_file(chunks[0], fs::file_size(chunks[0]) / 2);
    std::string damaged = test::readBytes(chunks[1]);
    damaged[damaged.size() / 2] ^= 0x10;
    test::writeBytes(chunks[1], damaged);
    // Another rate for the same output takes none of the chunks (and, complete, removes them).
    const fs::path copy = scratch / "copy";
    fs::copy(folder(), copy);
    const Outcome faster = convert({"--rate", "150", "-o", "out.wav", "in.txt"});
    ASSERT_EQ(faster.exitStatus(), 0) << faster.standardError;
    EXPECT_EQ(faster.standardError.find("kept from an earlier run"), std::string::npos);
    fs::remove(scratch / "out.wav");
    fs::rename(copy, folder());
    resumeAndCompare({"-j", "2", "-o", "out.wav", "in.txt"});
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
