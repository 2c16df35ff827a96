// The private folders in $TMPDIR of voice commands and read-along books, run by the real
// command line: gone however the program ends, killed by SIGKILL too, with no process of
// theirs left behind.

#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <string>
#include <vector>

namespace kestrova::cli::private_folders_test {

using test::Outcome;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class PrivateFolders : public ::testing::Test {
protected:
    PrivateFolders() {
        test::adoptOrphans();
        fs::create_directory(temporary);
        setup.environment = {{"TMPDIR", temporary.string()}};
    }

    // A file in a private folder that begins with the words (a file may go while it is read).
    bool holdsAFileOf(const std::string& words) const {
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(temporary, error);
             it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::ifstream file(it->path(), std::ios::binary);
            std::string head(words.size(), '\0');
            if (file.read(head.data(), static_cast<std::streamsize>(head.size())) && head == words)
                return true;
        }
        return false;
    }
    // Polls for a few seconds: the folders go after the program, not with it.
    bool emptiedSoon() const {
        for (auto deadline = std::chrono::steady_clock::now() + 5s;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(10ms))
            if (fs::is_empty(temporary))
                return true;
        return false;
    }

    test::ScratchDir scratch;
    // A name a shell would read as a command and as more than one word.
    const fs::path temporary = scratch / "tmp $(touch run) 'quoted'";
    test::ProgramSetup setup;
};

// The narration's wave file is written in the program's own process: its folder is left to
// the sweeper by a SIGKILL.
TEST_F(PrivateFolders, AKilledBookNarrationLeavesNoFolder) {
    std::string markdown;
    for (int i = 1; i <= 40; ++i)
        markdown += "# Part " + std::to_string(i) + "\n\n" + test::sentences(2000) + "\n\n";
    test::writeBytes(scratch / "long.md", markdown);
    test::RunningProgram cli(KESTROVA_CLI_PATH, {"convert", "-q", "-o", "long.epub", "long.md"},
                             scratch.path(), setup);
    ASSERT_TRUE(cli.waitFor([&] {
        std::error_code error;
        for (const auto& folder : fs::directory_iterator(temporary, error))
            if (test::unfinishedOutput(cli.pid(), folder.path()).value_or(0) > 0)
                return true;
        return false;
    }));
    ::kill(cli.pid(), SIGKILL);
    cli.wait();
    EXPECT_TRUE(emptiedSoon());
    EXPECT_TRUE(test::survivors().empty());
    EXPECT_FALSE(fs::exists(scratch / "run"));
}

// Every process of the program's group killed at once, the keepers that would remove the
// command's files too: the sweeper, in a group of its own and its socket held by none of the
// program's children, removes the folder while the command (in its own group) still runs.
TEST_F(PrivateFolders, AVoiceCommandsFolderGoesWhenTheProgramsGroupIsKilled) {
    test::writeBytes(scratch / "in.txt", "The lamp was lit at dusk.\n");
    const std::string command = "read t; if [ \"$t\" = Hello. ]; then espeak-ng -w {wav} \"$t\"; "
                                "else echo \"$t\" >{wav}; exec sleep 60; fi";
    test::RunningProgram cli(KESTROVA_CLI_PATH,
                             {"convert", "-q", "--voice-command", command, "-o", "x.wav", "in.txt"},
                             scratch.path(), setup);
    ASSERT_TRUE(cli.waitFor([&] { return holdsAFileOf("The lamp"); }));
    const pid_t group = ::getpgid(cli.pid());
    for (const pid_t pid : test::descendantsOf(::getpid()))
        if (::getpgid(pid) == group)
            ::kill(pid, SIGKILL);
    cli.wait();
    EXPECT_TRUE(emptiedSoon());
    test::survivors(0ms); // the command's sleep, which the group's death leaves running
    EXPECT_FALSE(fs::exists(scratch / "x.wav"));
}

// A run that ends well waits for its sweepers: nothing is left once it has exited, not even
// a file the command made in the folder under a name of its own.
TEST_F(PrivateFolders, AFinishedRunLeavesNeitherFolderNorSweeper) {
    test::writeBytes(scratch / "in.txt",
                     "The lamp was lit at dusk. The keeper climbed the stair.\n");
    const Outcome outcome =
        test::runProgram(KESTROVA_CLI_PATH,
                         {"convert", "-q", "--voice-command",
                          "flite -f {text} -o {wav} && touch \"$(dirname {wav})/own file\"", "-o",
                          "x.wav", "in.txt"},
                         scratch.path(), setup);
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    // Empty as the program ends: the sweeper that removed the command's own file was waited
    // for. (The workers die with the program, a moment after it: survivors allows for that.)
    EXPECT_TRUE(fs::is_empty(temporary));
    EXPECT_TRUE(test::survivors().empty());
    EXPECT_FALSE(fs::exists(scratch / "run"));
}

} // namespace kestrova::cli::private_folders_test
