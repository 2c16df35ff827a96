// Speech programs of the user's own as the voice, run by the real command line with real
// engines: eSpeak NG, Flite and Festival as commands, and commands that fail each way.

#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <signal.h>
#include <string>
#include <vector>

namespace kestrova::cli::voice_command_test {

using test::Outcome;
namespace fs = std::filesystem;

constexpr std::string_view twoSentences =
    "The lamp was lit at dusk. The keeper climbed the stair.\n";
constexpr const char* espeakCommand = "espeak-ng -v en-us --stdout";
// Speaks the first run's "Hello." with eSpeak NG, then does what is given with every other text.
std::string afterHello(const std::string& otherwise) {
    return "read t; if [ \"$t\" = Hello. ]; then espeak-ng --stdout \"$t\"; else " + otherwise +
           "; fi";
}

class VoiceCommand : public ::testing::Test {
protected:
    VoiceCommand() { test::writeBytes(scratch / "in.txt", twoSentences); }

    Outcome convert(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "convert");
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }
    std::vector<short> samplesOf(const std::string& name) {
        const auto sound = test::readSound(scratch / name);
        EXPECT_TRUE(sound) << name;
        return sound ? sound->samples : std::vector<short>{};
    }

    test::ScratchDir scratch;
};

// The command's eSpeak NG is ours: the same voice, defaults and fresh random state per chunk,
// so the same samples; a raw stream of them at its rate gives the same file.
TEST_F(VoiceCommand, EspeakAsACommandSpeaksAsOurEspeakVoice) {
    ASSERT_EQ(convert({"-q", "-f", "22", "-o", "ours.wav", "in.txt"}).exitStatus(), 0);
    const Outcome command = convert({"--voice-command", espeakCommand, "-o", "cmd.wav", "in.txt"});
    ASSERT_EQ(command.exitStatus(), 0) << command.standardError;
    EXPECT_NE(command.standardError.find("voice espeak-ng"), std::string::npos);
    const std::vector<short> ours = samplesOf("ours.wav");
    EXPECT_GT(ours.size(), 22050u);
    EXPECT_EQ(samplesOf("cmd.wav"), ours);
    const Outcome raw =
        convert({"-q", "--voice-command", std::string(espeakCommand) + " | sox -t wav - -t raw -",
                 "--voice-command-rate", "22050", "-o", "raw.wav", "in.txt"});
    ASSERT_EQ(raw.exitStatus(), 0) << raw.standardError;
    EXPECT_EQ(test::readBytes(scratch / "raw.wav"), test::readBytes(scratch / "cmd.wav"));
}

// A file in and a file out, at the engine's own rate, resampled to the format code's; the
// timings say what was spoken, and the name given names the voice.
TEST_F(VoiceCommand, FliteAndFestivalReadTheTextFileAndWriteTheSoundFile) {
    const std::pair<std::string, std::string> engines[] = {
        {"flite -f {text} -o {wav}", "Flite"},
        {"text2wave -eval '(voice_cmu_us_slt_arctic_hts)' {text} -o {wav}", "Festival slt"}};
    for (const auto& [command, name] : engines) {
        const Outcome outcome = convert({"--voice-command", command, "--voice-name", name, "-f",
                                         "18", "--timings", "t.json", "-o", "out.flac", "in.txt"});
        ASSERT_EQ(outcome.exitStatus(), 0) << command << ": " << outcome.standardError;
        EXPECT_NE(outcome.standardError.find("16000 Hz 16-bit mono, voice " + name),
                  std::string::npos)
            << outcome.standardError;
        const auto sound = test::readSound(scratch / "out.flac");
        ASSERT_TRUE(sound);
        EXPECT_EQ(sound->info.samplerate, 16000);
        EXPECT_GT(sound->seconds(), 2.0) << command;
        EXPECT_NE(test::readBytes(scratch / "t.json").find("The keeper climbed the stair."),
                  std::string::npos);
    }
}

// The runs of chunks split between workers as between one worker's runs: the same bytes.
TEST_F(VoiceCommand, OneWorkerAndTwoGiveTheSameBytes) {
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += "Go on. ";
    test::writeBytes(scratch / "many.txt", many);
    for (const char* jobs : {"1", "2"})
        ASSERT_EQ(convert({"-q", "-j", jobs, "--voice-command", espeakCommand, "--timings",
                           std::string("t") + jobs + ".json", "-o",
                           std::string("j") + jobs + ".wav", "many.txt"})
                      .exitStatus(),
                  0);
    EXPECT_EQ(test::readBytes(scratch / "j1.wav"), test::readBytes(scratch / "j2.wav"));
}

// Each failure one line naming the command and why; status 1; nothing written. The first
// run's failures come before any rendering, a later chunk's from its worker.
TEST_F(VoiceCommand, AFailingCommandFailsTheConversionInOneLine) {
    const std::pair<std::string, std::vector<std::string>> failures[] = {
        {"false", {"\"false\" failed with exit status 1"}},
        {"sh -c 'echo oops >&2; exit 3'", {"exit status 3: oops"}},
        {"cat >/dev/null", {"wrote no sound"}},
        {"echo garbage", {"wrote no WAV sound"}},
        {"kill -TERM $$", {"was killed by signal Terminated"}},
        {afterHello("echo late >&2; exit 4"), {"failed with exit status 4: late"}},
        {afterHello("espeak-ng --stdout \"$t\" | sox -t wav - -r 16000 -t wav -"),
         {"wrote sound at 16000 Hz, where its first sound was at 22050 Hz"}},
    };
    for (const auto& [command, words] : failures) {
        const Outcome outcome =
            convert({"-q", "--voice-command", command, "-o", "x.wav", "in.txt"});
        EXPECT_EQ(outcome.exitStatus(), 1) << command;
        for (const std::string& word : words)
            EXPECT_NE(outcome.standardError.find(word), std::string::npos)
                << command << ": " << outcome.standardError;
        EXPECT_EQ(std::count(outcome.standardError.begin(), outcome.standardError.end(), '\n'), 1)
            << outcome.standardError;
        EXPECT_FALSE(fs::exists(scratch / "x.wav")) << command;
    }
}

TEST_F(VoiceCommand, AHangingCommandIsEndedAtItsTimeout) {
    test::adoptOrphans();
    const Outcome outcome = convert({"-q", "--voice-command", "sleep 100",
                                     "--voice-command-timeout", "1", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(outcome.exitStatus(), 1);
    EXPECT_NE(outcome.standardError.find("\"sleep 100\" did not finish within 1 s"),
              std::string::npos)
        << outcome.standardError;
    EXPECT_TRUE(test::survivors().empty());
}

// A stop ends the workers by SIGKILL: the command's whole group goes with them, what it left
// in the background too, and nothing is written.
TEST_F(VoiceCommand, AStopEndsTheCommandsWholeProcessGroup) {
    test::adoptOrphans();
    test::RunningProgram program(KESTROVA_CLI_PATH,
                                 {"convert", "-q", "--voice-command",
                                  afterHello("sleep 1000 & wait"), "-o", "x.wav", "in.txt"},
                                 scratch.path());
    const auto sleeping = [&] {
        for (const pid_t pid : test::descendantsOf(program.pid()))
            // A descendant may end between the listing and the reading: its name is then none.
            if (std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
                std::string(std::istreambuf_iterator<char>(comm), {}) == "sleep\n")
                return true;
        return false;
    };
    ASSERT_TRUE(program.waitFor(sleeping));
    ::kill(program.pid(), SIGTERM);
    const Outcome outcome = program.wait();
    EXPECT_EQ(outcome.exitStatus(), 128 + SIGTERM) << outcome.standardError;
    EXPECT_TRUE(test::survivors().empty());
    EXPECT_FALSE(fs::exists(scratch / "x.wav"));
}

TEST_F(VoiceCommand, AnotherVoiceOrOurRateWithACommandIsBadUsage) {
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"-e", "Flite slt"}, {"--rate", "150"}, {"--pitch", "80"}}) {
        std::vector<std::string> arguments = {"--voice-command", espeakCommand, "-o", "x.wav"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back("in.txt");
        const Outcome outcome = convert(arguments);
        EXPECT_EQ(outcome.exitStatus(), 2) << extra.front();
        EXPECT_FALSE(fs::exists(scratch / "x.wav"));
    }
    EXPECT_EQ(convert({"--voice-name", "x", "-o", "x.wav", "in.txt"}).exitStatus(), 2);
}

} // namespace kestrova::cli::voice_command_test
