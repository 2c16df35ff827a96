#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

// Polls until condition holds, for a minute at most; whether it held.
template <typename Condition> bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class ManyFiles : public ::testing::Test {
protected:
    Outcome run(const std::vector<std::string>& arguments) {
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }
    // Runs a shell command line in the scratch folder, the converter as $CLI; its status.
    int shell(const std::string& commandLine) {
        const std::string command = "cd '" + scratch.path().string() + "' && CLI='" +
                                    KESTROVA_CLI_PATH + "' && " + commandLine;
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ScratchDir scratch;
};

// A hundred small texts, with a missing file and a folder among them: each good one gives a
// valid file in the folder made for them, each bad one one line, and the count ends it.
TEST_F(ManyFiles, AHundredTextsAndTwoBadInputs) {
    std::vector<std::string> arguments = {"convert", "-e", "slt", "-d", "out/sound"};
    for (int i = 0; i < 100; ++i) {
        const std::string name = "text" + std::to_string(i) + ".txt";
        test::writeBytes(scratch / name, "Text number " + std::to_string(i) + ".\n");
        arguments.push_back(name);
        if (i == 40)
            arguments.push_back("missing.txt");
    }
    fs::create_directory(scratch / "folder.txt");
    arguments.push_back("folder.txt");

    const Outcome result = run(arguments);
    EXPECT_EQ(result.exitStatus(), 1) << result.standardError;
    EXPECT_TRUE(result.standardError.ends_with("kestrova-wav-cli: 2 of 102 files failed\n"))
        << result.standardError;
    EXPECT_NE(
        result.standardError.find("kestrova-wav-cli: cannot open the text file \"missing.txt\""),
        std::string::npos)
        << result.standardError;
    EXPECT_NE(
        result.standardError.find("kestrova-wav-cli: cannot read the text file \"folder.txt\""),
        std::string::npos)
        << result.standardError;
    // A summary per converted file, a line per failure, and the count.
    EXPECT_EQ(test::lineCount(result.standardError), 103u);
    ASSERT_EQ(scratch.names("out/sound").size(), 100u);
    for (int i = 0; i < 100; ++i) {
        const auto sound =
            test::readSound(scratch / "out/sound" / ("text" + std::to_string(i) + ".wav"));
        ASSERT_TRUE(sound) << i;
        EXPECT_EQ(sound->info.samplerate, 22050);
        EXPECT_GT(sound->seconds(), 0.5) << i;
        EXPECT_GT(sound->peak(), 1000) << i;
    }
}

// Converted among others or alone, a file is the same, byte for byte; beside its input
// without -d, with the ending of the type asked for.
TEST_F(ManyFiles, EachFileIsAsConvertedAlone) {
    test::writeBytes(scratch / "a.txt", "The first of two texts. It has two sentences.\n");
    test::writeBytes(scratch / "b.txt", "The second text.\n");
    ASSERT_EQ(run({"convert", "-q", "-o", "alone-a.flac", "a.txt"}).exitStatus(), 0);
    ASSERT_EQ(run({"convert", "-q", "-o", "alone-b.flac", "b.txt"}).exitStatus(), 0);
    const Outcome result = run({"convert", "-q", "--type", "flac", "a.txt", "b.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(test::readBytes(scratch / "a.flac"), test::readBytes(scratch / "alone-a.flac"));
    EXPECT_EQ(test::readBytes(scratch / "b.flac"), test::readBytes(scratch / "alone-b.flac"));
}

// Standard input, from a pipe or a file, is read as a text file would be.
TEST_F(ManyFiles, StandardInputIsAnInput) {
    test::writeBytes(scratch / "in.txt", "Read from standard input.\n");
    ASSERT_EQ(run({"convert", "-q", "-e", "slt", "-o", "file.wav", "in.txt"}).exitStatus(), 0);
    EXPECT_EQ(shell("cat in.txt | \"$CLI\" convert -q -e slt -o piped.wav -"), 0);
    EXPECT_EQ(shell("\"$CLI\" convert -q -e slt -d out - < in.txt"), 0);
    EXPECT_EQ(shell("cat in.txt | \"$CLI\" convert -q -e slt -d both - in.txt"), 0);
    const std::string expected = test::readBytes(scratch / "file.wav");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(test::readBytes(scratch / "piped.wav"), expected);
    EXPECT_EQ(test::readBytes(scratch / "out/stdin.wav"), expected);
    EXPECT_EQ(test::readBytes(scratch / "both/stdin.wav"), expected);
    EXPECT_EQ(test::readBytes(scratch / "both/in.wav"), expected);
}

// A lexicon from a pipe gives its entries once: every file of the batch is spoken with them,
// and a bad line fails the batch before any file is made.
TEST_F(ManyFiles, ALexiconFromAPipeServesEveryFile) {
    test::writeBytes(scratch / "a.txt", "Hello there.\n");
    test::writeBytes(scratch / "b.txt", "Hello there.\n");
    test::writeBytes(scratch / "c.txt", "one two three four five six there.\n");
    EXPECT_EQ(shell("printf 'hello = one two three four five six\\n' | "
                    "\"$CLI\" convert -q -e slt --lexicon /dev/stdin -d out a.txt b.txt"),
              0);
    ASSERT_EQ(run({"convert", "-q", "-e", "slt", "-o", "c.wav", "c.txt"}).exitStatus(), 0);
    const std::string expected = test::readBytes(scratch / "c.wav");
    EXPECT_EQ(test::readBytes(scratch / "out/a.wav"), expected);
    EXPECT_EQ(test::readBytes(scratch / "out/b.wav"), expected);

    EXPECT_EQ(shell("printf 'bad line\\n' | \"$CLI\" convert -q --lexicon /dev/stdin -d bad "
                    "a.txt b.txt 2> bad.err"),
              1);
    EXPECT_EQ(test::readBytes(scratch / "bad.err"),
              "kestrova-wav-cli: /dev/stdin:1: no \"=\" between the word and its replacement\n");
    EXPECT_TRUE(!fs::exists(scratch / "bad") || fs::is_empty(scratch / "bad"));
}

// A stop signal stops every file: the status says which signal, no process is left, and
// nothing partial either; the folder holds only what was complete.
TEST_F(ManyFiles, AStopSignalStopsThemAll) {
    std::string longText;
    while (longText.size() < 200000)
        longText += "This is one more sentence of a text that takes a while to speak. ";
    std::vector<std::string> names;
    for (int i = 0; i < 4; ++i) {
        names.push_back("long" + std::to_string(i) + ".txt");
        test::writeBytes(scratch / names.back(), longText);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_RDWR);
        if (quiet < 0 || ::dup2(quiet, 0) < 0 || ::dup2(quiet, 1) < 0 || ::dup2(quiet, 2) < 0 ||
            ::chdir(scratch.path().c_str()) != 0)
            ::_exit(127);
        ::execl(KESTROVA_CLI_PATH, KESTROVA_CLI_PATH, "convert", "-e", "slt", "-d", "out",
                names[0].c_str(), names[1].c_str(), names[2].c_str(), names[3].c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    // Stopped once sound is being written: a file's process holds an unfinished output.
    const auto writingSound = [&] {
        for (const pid_t process : test::descendantsOf(child))
            if (test::unfinishedOutput(process, scratch / "out").value_or(0) > 0)
                return true;
        return false;
    };
    const bool writing =
        eventually([&] { return writingSound() || ::waitpid(child, nullptr, WNOHANG) != 0; });
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child) << "the program ended before the signal";
    EXPECT_TRUE(writing);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    // The workers and the files' processes run with the scratch folder as their own, and
    // die with the program: soon, not at once.
    const auto processesLeft = [&] {
        std::size_t left = 0;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::error_code unreadable;
            left += fs::read_symlink(entry.path() / "cwd", unreadable) == scratch.path();
        }
        return left;
    };
    eventually([&] { return processesLeft() == 0; });
    EXPECT_EQ(processesLeft(), 0u);
    EXPECT_TRUE(scratch.names("out").empty());
    EXPECT_TRUE(test::leftoverParts(scratch / "out").empty());
}

} // namespace
} // namespace kestrova::cli
