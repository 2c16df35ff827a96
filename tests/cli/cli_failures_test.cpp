#include "cli_cases.h"
#include "speech/audio_format.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::cli {
namespace {

// A suite of its own: the fixture of cli_cases.h is this file's own class.
class CommandLineFailure : public CommandLine {};

class BadUsage : public CommandLine,
                 public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BadUsage, ExitsWithTwoAndWritesNothing) {
    const Outcome result = run(GetParam());
    EXPECT_EQ(result.exitStatus(), 2) << result.standardError;
    EXPECT_FALSE(result.standardError.empty());
    if (GetParam().size() > 1 && GetParam()[1] == "-f") {
        EXPECT_NE(result.standardError.find("a decimal number from 4 to 39"), std::string::npos)
            << result.standardError;
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
    expectInputIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadUsage,
    test::sweep(std::vector<std::string>{}, std::vector<std::string>{"--bogus"},
                std::vector<std::string>{"speak", "in.txt"}, std::vector<std::string>{"convert"},
                std::vector<std::string>{"convert", "--bogus", "in.txt"},
                std::vector<std::string>{"convert", "-x", "in.txt"},
                std::vector<std::string>{"convert", "-f", "abc", "in.txt"},
                std::vector<std::string>{"convert", "-f", "3", "in.txt"},
                std::vector<std::string>{"convert", "-f", "40", "in.txt"},
                std::vector<std::string>{"convert", "-f", "0x12", "in.txt"},
                std::vector<std::string>{"convert", "-f", "", "in.txt"},
                std::vector<std::string>{"convert", "-f", "1e1", "in.txt"},
                std::vector<std::string>{"convert", "-f", " 22", "in.txt"},
                std::vector<std::string>{"convert", "-f", "+22", "in.txt"},
                std::vector<std::string>{"convert", "-f", "-5", "in.txt"},
                std::vector<std::string>{"convert", "-f", "99999999999999999999", "in.txt"},
                std::vector<std::string>{"convert", "-j", "", "in.txt"},
                std::vector<std::string>{"convert", "-j", "0x2", "in.txt"},
                std::vector<std::string>{"convert", "-j", "-1", "in.txt"},
                std::vector<std::string>{"convert", "-f", "in.txt"},
                std::vector<std::string>{"convert", "--rate", "24", "in.txt"},
                std::vector<std::string>{"convert", "--rate", "401", "in.txt"},
                std::vector<std::string>{"convert", "--pitch", "49", "in.txt"},
                std::vector<std::string>{"convert", "--pitch", "201", "in.txt"},
                std::vector<std::string>{"convert", "--volume", "401", "in.txt"},
                std::vector<std::string>{"convert", "--volume", "-1", "in.txt"},
                std::vector<std::string>{"convert", "--volume", "50.5", "in.txt"},
                std::vector<std::string>{"convert", "--sentence-pause", "60001", "in.txt"},
                std::vector<std::string>{"convert", "--paragraph-pause", "1s", "in.txt"},
                std::vector<std::string>{"convert", "-o", "x.wav", "in.txt", "extra.txt"},
                std::vector<std::string>{"convert", "-o", "x.wav", "-d", "out", "in.txt"},
                std::vector<std::string>{"convert", "-d", "out", "in.txt", "in.txt"},
                std::vector<std::string>{"convert", "-d", "out", "in.txt", "./in.txt"},
                std::vector<std::string>{"convert", "-"},
                std::vector<std::string>{"convert", "-d", "out", "-", "-"},
                std::vector<std::string>{"convert", "--type", "raw", "--title", "T", "-o", "x.raw",
                                         "in.txt"},
                std::vector<std::string>{"convert", "--type", "au", "--artist", "A", "-d", "out",
                                         "in.txt"},
                std::vector<std::string>{"voices", "extra"}));

struct FailureCase {
    std::string name;
    std::vector<std::string> arguments;
    std::string mentions;
};

void PrintTo(const FailureCase& entry, std::ostream* out) {
    *out << entry.name;
}

class Failure : public CommandLine, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, ExitsWithOneAndOneLineNamingTheProblem) {
    const Outcome result = run(GetParam().arguments);
    EXPECT_EQ(result.exitStatus(), 1) << result.standardError;
    EXPECT_TRUE(result.standardError.starts_with("kestrova-wav-cli: ")) << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_TRUE(result.standardError.ends_with("\n")) << result.standardError;
    EXPECT_NE(result.standardError.find(GetParam().mentions), std::string::npos)
        << result.standardError;
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
    expectInputIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Failure,
    test::sweep(FailureCase{"MissingInput", {"convert", "-e", "slt", "missing.txt"}, "missing.txt"},
                FailureCase{"MissingInputWithOutput",
                            {"convert", "-e", "slt", "-o", "x.wav", "missing.txt"},
                            "missing.txt"},
                FailureCase{"UnknownVoice", {"convert", "-e", "VW Kate", "in.txt"}, "\"VW Kate\""},
                FailureCase{"OutputFolderMissing",
                            {"convert", "-e", "slt", "-o", "nowhere/x.wav", "in.txt"},
                            "nowhere/x.wav"}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandLineFailure, AFolderAsInputFailsNamingIt) {
    fs::create_directory(scratch / "folder.txt");
    const Outcome result = run({"convert", "-q", "-e", "slt", "folder.txt"});
    EXPECT_EQ(result.exitStatus(), 1);
    EXPECT_TRUE(result.standardError.starts_with("kestrova-wav-cli: ")) << result.standardError;
    EXPECT_NE(result.standardError.find("folder.txt"), std::string::npos) << result.standardError;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"folder.txt", "in.txt"}));
}

// Whatever is asked, the text file read is never deleted or overwritten.
class InputKept : public CommandLine,
                  public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(InputKept, EvenWhenTheOutputWouldBeTheInput) {
    test::writeBytes(scratch / "notes.wav", text);
    run(GetParam());
    EXPECT_EQ(test::readBytes(scratch / "notes.wav"), text);
    expectInputIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, InputKept,
    test::sweep(std::vector<std::string>{"convert", "-q", "-e", "slt", "in.txt"},
                std::vector<std::string>{"convert", "-q", "-e", "slt", "notes.wav"},
                std::vector<std::string>{"convert", "-q", "-e", "slt", "-o", "in.txt", "in.txt"},
                std::vector<std::string>{"convert", "-q", "-e", "slt", "-o", "./in.txt",
                                         "in.txt"}));

struct DecimalCase {
    std::vector<std::string> options;
    int rate;
    int bits;
};

void PrintTo(const DecimalCase& entry, std::ostream* out) {
    for (const std::string& option : entry.options)
        *out << option << ' ';
}

class DecimalNumbers : public CommandLine, public ::testing::WithParamInterface<DecimalCase> {};

// Leading zeros mean nothing: no octal. 022 is 22 (22.05 kHz, not 16 kHz) and 010 is 10
// (11.025 kHz 16-bit, not 8-bit).
TEST_P(DecimalNumbers, LeadingZerosMeanNothing) {
    std::vector<std::string> arguments = {"convert", "-q", "-e", "slt", "-o", "x.wav"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    arguments.push_back("in.txt");
    const Outcome result = run(arguments);
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    const auto sound = test::readSound(scratch / "x.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->info.samplerate, GetParam().rate);
    EXPECT_EQ(sound->info.format & SF_FORMAT_SUBMASK,
              GetParam().bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
}

INSTANTIATE_TEST_SUITE_P(Options, DecimalNumbers,
                         test::sweep(DecimalCase{{"-f", "022"}, 22050, 16},
                                     DecimalCase{{"-f", "010"}, 11025, 16},
                                     DecimalCase{{"-f", "0004"}, 8000, 8},
                                     DecimalCase{{"-f", "18", "-j", "007"}, 16000, 16},
                                     DecimalCase{{"-f", "18", "-j", "1000000"}, 16000, 16}));

// eSpeak NG pointed at an empty data folder cannot start; Flite still serves.
class BrokenESpeakNg : public CommandLine {
protected:
    BrokenESpeakNg() { fs::create_directory(scratch / "no-espeak-data"); }
    Outcome runBroken(const std::vector<std::string>& arguments) {
        ProgramSetup setup;
        setup.environment = {{"ESPEAK_DATA_PATH", (scratch / "no-espeak-data").string()}};
        return run(arguments, setup);
    }
};

TEST_F(BrokenESpeakNg, VoicesListFliteWithOneWarning) {
    const Outcome result = runBroken({"voices"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_NE(result.standardOutput.find("Flite slt"), std::string::npos) << result.standardOutput;
    EXPECT_EQ(result.standardOutput.find("eSpeak NG English"), std::string::npos)
        << result.standardOutput;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_TRUE(
        result.standardError.starts_with("kestrova-wav-cli: warning: eSpeak NG is left out: "))
        << result.standardError;
}

TEST_F(BrokenESpeakNg, FliteVoicesStillConvert) {
    const Outcome result = runBroken({"convert", "-q", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(rateOf("x.wav"), 22050);
}

class BrokenESpeakNgVoice : public BrokenESpeakNg,
                            public ::testing::WithParamInterface<std::vector<std::string>> {};

// Its voices, and the default voice, which is one of them, fail naming the engine and why.
TEST_P(BrokenESpeakNgVoice, FailsNamingTheEngine) {
    std::vector<std::string> arguments = {"convert", "-q"};
    arguments.insert(arguments.end(), GetParam().begin(), GetParam().end());
    arguments.push_back("in.txt");
    const Outcome result = runBroken(arguments);
    EXPECT_EQ(result.exitStatus(), 1) << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_NE(result.standardError.find("eSpeak NG is unavailable: eSpeak NG: cannot initialize"),
              std::string::npos)
        << result.standardError;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "no-espeak-data"}));
}

INSTANTIATE_TEST_SUITE_P(Voices, BrokenESpeakNgVoice,
                         test::sweep(std::vector<std::string>{}, std::vector<std::string>{"-e", ""},
                                     std::vector<std::string>{"-e", "eSpeak NG Māori"},
                                     std::vector<std::string>{"-e", "en-us"}));

ProgramSetup standardErrorClosed() {
    ProgramSetup setup;
    setup.standardErrorClosed = true;
    return setup;
}

// Standard error a pipe nobody reads any more: the summary is lost, the conversion is not.
TEST_F(CommandLineFailure, AClosedStandardErrorLosesOnlyTheSummary) {
    const Outcome result =
        run({"convert", "-e", "slt", "-o", "x.wav", "in.txt"}, standardErrorClosed());
    EXPECT_EQ(result.exitStatus(), 0) << "the run did not exit (SIGPIPE?)";
    ASSERT_EQ(run({"convert", "-q", "-e", "slt", "-o", "y.wav", "in.txt"}).exitStatus(), 0);
    const auto sound = test::readSound(scratch / "x.wav");
    const auto reference = test::readSound(scratch / "y.wav");
    ASSERT_TRUE(sound && reference);
    EXPECT_GT(sound->info.frames, 0);
    EXPECT_TRUE(sound->samples == reference->samples);
}

TEST_F(CommandLineFailure, AClosedStandardErrorKeepsAFailureAFailure) {
    const Outcome result =
        run({"convert", "-e", "slt", "-o", "x.wav", "missing.txt"}, standardErrorClosed());
    EXPECT_EQ(result.exitStatus(), 1);
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
}

struct QuotedNameCase {
    std::string output;
    std::string shown;
};

void PrintTo(const QuotedNameCase& entry, std::ostream* out) {
    *out << entry.shown;
}

class NamesInMessages : public CommandLine, public ::testing::WithParamInterface<QuotedNameCase> {};

// A name with a line feed or an escape stays on the message's one line and cannot drive the
// terminal; an ordinary one keeps its plain double quotes.
TEST_P(NamesInMessages, AreQuotedOnOneLine) {
    const Outcome result = run({"convert", "-q", "-e", "slt", "-o", GetParam().output, "in.txt"});
    EXPECT_EQ(result.exitStatus(), 1);
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_EQ(result.standardError, "kestrova-wav-cli: cannot write the wave file " +
                                        GetParam().shown + ": No such file or directory\n");
}

INSTANTIATE_TEST_SUITE_P(
    Names, NamesInMessages,
    test::sweep(QuotedNameCase{"nowhere/plain é.wav", "\"nowhere/plain é.wav\""},
                QuotedNameCase{"nowhere/a\nb.wav", "'nowhere/a'$'\\n''b.wav'"},
                QuotedNameCase{"nowhere/\x1B[31mred.wav", "'nowhere/'$'\\033''[31mred.wav'"},
                QuotedNameCase{"nowhere/caf\xE9.wav", "'nowhere/caf'$'\\351''.wav'"}));

} // namespace
} // namespace kestrova::cli
