#include "cli_runner.h"
#include "test_support.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrova::cli {
namespace {

using test::ScratchDir;
namespace fs = std::filesystem;

constexpr std::string_view text = "Hello world. This is a short test.\n";

class CommandLine : public ::testing::Test {
protected:
    CommandLine() { test::writeBytes(scratch / "in.txt", text); }

    Outcome run(const std::vector<std::string>& arguments, const Surroundings& surroundings = {}) {
        return runCli(scratch.path(), arguments, surroundings);
    }
    int rateOf(const std::string& name) {
        const auto sound = test::readSound(scratch / name);
        return sound ? sound->info.samplerate : 0;
    }
    void expectInputIntact() { EXPECT_EQ(test::readBytes(scratch / "in.txt"), text); }

    ScratchDir scratch;
};

TEST_F(CommandLine, VoicesListsBothEngines) {
    const Outcome result = run({"voices"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("eSpeak NG English (America)"), std::string::npos);
    EXPECT_NE(result.out.find("Flite slt"), std::string::npos);
    EXPECT_NE(result.out.find("Flite kal16"), std::string::npos);
    EXPECT_EQ(result.err, "");
}

// Parses the JSON with Python's own parser: the number of voices in it, or -1 if it does not
// parse as an array of objects with every field.
int voicesInJson(const fs::path& json) {
    const std::string command =
        "python3 -c 'import json,sys\n"
        "v=json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
        "keys={\"displayName\",\"id\",\"language\",\"nativeRate\",\"engine\",\"default\"}\n"
        "ok=all(set(x)==keys and isinstance(x[\"nativeRate\"],int) for x in v)\n"
        "print(len(v) if ok and sum(x[\"default\"] for x in v)==1 else -1)' '" +
        json.string() + "'";
    FILE* python = ::popen(command.c_str(), "r");
    if (python == nullptr)
        return -1;
    char line[32] = {};
    const bool read = std::fgets(line, sizeof line, python) != nullptr;
    return ::pclose(python) == 0 && read ? std::atoi(line) : -1;
}

TEST_F(CommandLine, VoicesAsJsonListTheSameVoices) {
    const Outcome listing = run({"voices"});
    const Outcome json = run({"voices", "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, "");
    test::writeBytes(scratch / "voices.json", json.out);
    // The listing: a header, a line per voice, a blank line and the default voice.
    const int listed = static_cast<int>(lines(listing.out)) - 3;
    EXPECT_GT(listed, 10);
    EXPECT_EQ(voicesInJson(scratch / "voices.json"), listed) << json.out;
    EXPECT_NE(json.out.find("{\"displayName\": \"Flite slt\", \"id\": \"slt\", \"language\": "
                            "\"en-us\", \"nativeRate\": 16000, \"engine\": \"Flite\""),
              std::string::npos)
        << json.out;
}

TEST_F(CommandLine, ConvertWritesTheFormatAsked) {
    const Outcome result = run({"convert", "-q", "-e", "slt", "-f", "18", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(rateOf("x.wav"), 16000);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    expectInputIntact();
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "x.wav"}));
}

TEST_F(CommandLine, ConvertTakesLongOptionsAndAbsolutePaths) {
    const Outcome result =
        run({"convert", "--quiet", "--engine", "Flite kal", "--format", "39", "--output",
             (scratch / "x.wav").string(), (scratch / "in.txt").string()});
    EXPECT_EQ(result.status, 0) << result.err;
    const auto sound = test::readSound(scratch / "x.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->info.samplerate, 48000);
    EXPECT_EQ(sound->info.channels, 2);
}

TEST_F(CommandLine, ConvertWritesBesideTheInputByDefault) {
    fs::create_directory(scratch / "sub");
    test::writeBytes(scratch / "sub" / "notes.text.txt", text);
    const Outcome result = run({"convert", "-q", "-e", "slt", "sub/notes.text.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(rateOf("sub/notes.text.wav"), 22050);
    EXPECT_EQ(test::readBytes(scratch / "sub" / "notes.text.txt"), text);
}

TEST_F(CommandLine, ConvertAddsTheEndingToAnInputWithout) {
    test::writeBytes(scratch / "notes", text);
    const Outcome result = run({"convert", "-q", "-e", "slt", "notes"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_GT(rateOf("notes.wav"), 0);
    EXPECT_EQ(test::readBytes(scratch / "notes"), text);
}

struct DefaultRateCase {
    std::vector<std::string> engine;
    int rate;
};

class DefaultFormat : public CommandLine, public ::testing::WithParamInterface<DefaultRateCase> {};

// Without -f the format follows the engine name as typed.
TEST_P(DefaultFormat, FollowsTheFormatRule) {
    std::vector<std::string> arguments = {"convert", "-q"};
    arguments.insert(arguments.end(), GetParam().engine.begin(), GetParam().engine.end());
    arguments.insert(arguments.end(), {"-o", "x.wav", "in.txt"});
    const Outcome result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(rateOf("x.wav"), GetParam().rate);
}

INSTANTIATE_TEST_SUITE_P(Engines, DefaultFormat,
                         ::testing::Values(DefaultRateCase{{"-e", "slt"}, 22050},
                                           DefaultRateCase{{"-e", "Flite kal16"}, 22050},
                                           DefaultRateCase{{"-e", "kal"}, 22050},
                                           DefaultRateCase{{}, 22050},
                                           DefaultRateCase{{"-e", ""}, 22050}));

TEST_F(CommandLine, ConvertChoosesTheContainerByTheEnding) {
    const Outcome result = run({"convert", "-q", "-e", "slt", "-o", "x.flac", "in.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    const auto sound = test::readSound(scratch / "x.flac");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->majorFormat(), SF_FORMAT_FLAC);
}

TEST_F(CommandLine, ConvertSummarizesOnStandardErrorUnlessQuiet) {
    const Outcome result = run({"convert", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_NE(result.err.find("x.wav"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Flite slt"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

TEST_F(CommandLine, TheSummaryCountsLimitedSamplesOnlyWhenThereAreAny) {
    Outcome result = run({"convert", "-e", "slt", "--volume", "400", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find(" samples limited\n"), std::string::npos) << result.err;
    result = run({"convert", "-e", "slt", "--volume", "050", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err.find("limited"), std::string::npos) << result.err;
}

TEST_F(CommandLine, ABadLexiconLineFailsBeforeAnythingIsWritten) {
    test::writeBytes(scratch / "good.lex", "Xochitl = so cheel\n");
    test::writeBytes(scratch / "bad.lex", "# names\nno equals sign here\n");
    const Outcome result = run({"convert", "-e", "slt", "--lexicon", "good.lex", "--lexicon",
                                "bad.lex", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(result.err.starts_with("kestrova-wav-cli: bad.lex:2: ")) << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"bad.lex", "good.lex", "in.txt"}));
}

TEST_F(CommandLine, MalformedMarkupFailsWithLineAndColumnBeforeAnythingIsWritten) {
    test::writeBytes(scratch / "bad.ssml", "<speak>\n  <p>words</s>\n</speak>\n");
    const Outcome result = run({"convert", "-e", "slt", "--ssml", "-o", "x.wav", "bad.ssml"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(result.err.starts_with("kestrova-wav-cli: bad.ssml:2:")) << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"bad.ssml", "in.txt"}));
}

TEST_F(CommandLine, AnUnknownElementIsReadAsTextWithOneWarning) {
    test::writeBytes(scratch / "odd.ssml", "<speak>Some <odd>unusual</odd> words.</speak>\n");
    const Outcome result = run({"convert", "-e", "slt", "--ssml", "-o", "x.wav", "odd.ssml"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.starts_with("kestrova-wav-cli: warning: odd.ssml:1:")) << result.err;
    EXPECT_NE(result.err.find("odd"), std::string::npos) << result.err;
    EXPECT_EQ(lines(result.err), 2u) << result.err; // the warning and the summary
}

TEST_F(CommandLine, NoClobberKeepsAnExistingFile) {
    test::writeBytes(scratch / "x.wav", "old");
    Outcome result = run({"convert", "-q", "-n", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with("kestrova-wav-cli: ")) << result.err;
    EXPECT_EQ(test::readBytes(scratch / "x.wav"), "old");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "x.wav"}));
    result = run({"convert", "-q", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(rateOf("x.wav"), 22050);
}

struct HelpCase {
    std::vector<std::string> arguments;
    std::string mentions;
};

class Help : public CommandLine, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(Help, SucceedsAndDescribesTheCommands) {
    const Outcome result = run(GetParam().arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE((result.out + result.err).find(GetParam().mentions), std::string::npos) << result.out;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Forms, Help,
                         ::testing::Values(HelpCase{{"--help"}, "convert"},
                                           HelpCase{{"-h"}, "voices"},
                                           HelpCase{{"convert", "--help"}, "--no-clobber"},
                                           HelpCase{{"convert", "--help"}, "At most 4 per core"},
                                           HelpCase{{"convert", "--help"}, "--sentence-pause"},
                                           HelpCase{{"convert", "--help"}, "--lexicon"}));

class BadUsage : public CommandLine,
                 public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BadUsage, ExitsWithTwoAndWritesNothing) {
    const Outcome result = run(GetParam());
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_FALSE(result.err.empty());
    if (GetParam().size() > 1 && GetParam()[1] == "-f") {
        EXPECT_NE(result.err.find("a decimal number from 4 to 39"), std::string::npos)
            << result.err;
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
    expectInputIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadUsage,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--bogus"},
                      std::vector<std::string>{"speak", "in.txt"},
                      std::vector<std::string>{"convert"},
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
                      std::vector<std::string>{"convert", "--type", "raw", "--title", "T", "-o",
                                               "x.raw", "in.txt"},
                      std::vector<std::string>{"convert", "--type", "au", "--artist", "A", "-d",
                                               "out", "in.txt"},
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
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(result.err.starts_with("kestrova-wav-cli: ")) << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_TRUE(result.err.ends_with("\n")) << result.err;
    EXPECT_NE(result.err.find(GetParam().mentions), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
    expectInputIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Failure,
    ::testing::Values(
        FailureCase{"MissingInput", {"convert", "-e", "slt", "missing.txt"}, "missing.txt"},
        FailureCase{"MissingInputWithOutput",
                    {"convert", "-e", "slt", "-o", "x.wav", "missing.txt"},
                    "missing.txt"},
        FailureCase{"UnknownVoice", {"convert", "-e", "VW Kate", "in.txt"}, "\"VW Kate\""},
        FailureCase{"OutputFolderMissing",
                    {"convert", "-e", "slt", "-o", "nowhere/x.wav", "in.txt"},
                    "nowhere/x.wav"},
        FailureCase{"OpusAtTwentyTwoKilohertz",
                    {"convert", "-e", "slt", "-o", "x.opus", "in.txt"},
                    "x.opus"}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandLine, AFolderAsInputFailsNamingIt) {
    fs::create_directory(scratch / "folder.txt");
    const Outcome result = run({"convert", "-q", "-e", "slt", "folder.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with("kestrova-wav-cli: ")) << result.err;
    EXPECT_NE(result.err.find("folder.txt"), std::string::npos) << result.err;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"folder.txt", "in.txt"}));
}

// The processes whose working folder is the folder: the converter's, run there.
std::vector<pid_t> processesIn(const fs::path& folder) {
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code unreadable;
        if (fs::read_symlink(entry.path() / "cwd", unreadable) == folder)
            found.push_back(std::stoi(name));
    }
    return found;
}

struct SignalCase {
    int signal;
    bool existingOutput;
};

void PrintTo(const SignalCase& entry, std::ostream* out) {
    *out << ::strsignal(entry.signal) << (entry.existingOutput ? ", over a file" : "");
}

class StopSignal : public CommandLine, public ::testing::WithParamInterface<SignalCase> {};

// A signal in the middle of a conversion stops it between chunks: the exit status says
// which signal, and neither the temporary file nor a partial output is left.
TEST_P(StopSignal, StopsCleanly) {
    std::string longText;
    while (longText.size() < 400000)
        longText += "This is one more sentence of a text that takes a while to speak. ";
    test::writeBytes(scratch / "long.txt", longText);
    if (GetParam().existingOutput)
        test::writeBytes(scratch / "long.wav", "old");
    const auto before = scratch.names();

    // Standard error is a pipe: it reaches its end only once no process of the converter
    // holds it any more.
    int errPipe[2];
    ASSERT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_RDWR);
        if (quiet < 0 || ::dup2(quiet, 0) < 0 || ::dup2(quiet, 1) < 0 ||
            ::dup2(errPipe[1], 2) < 0 || ::chdir(scratch.path().c_str()) != 0)
            ::_exit(127);
        ::execl(KESTROVA_CLI_PATH, KESTROVA_CLI_PATH, "convert", "-q", "-e", "slt", "long.txt",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(errPipe[1]);
    ASSERT_GT(child, 0);
    // Signal once the conversion has begun: its output is open.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!test::unfinishedOutput(child, scratch.path()) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const bool begun = test::unfinishedOutput(child, scratch.path()).has_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the workers are busy now
    ::kill(child, GetParam().signal);
    const auto signalled = std::chrono::steady_clock::now();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto stopping = std::chrono::steady_clock::now() - signalled;

    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<pid_t> left = processesIn(scratch.path());

    std::string err;
    bool ended = false;
    for (pollfd watched{errPipe[0], POLLIN, 0}; ::poll(&watched, 1, 1000) > 0;) {
        char buffer[4096];
        const ssize_t got = ::read(errPipe[0], buffer, sizeof buffer);
        if (got <= 0) {
            ended = got == 0;
            break;
        }
        err.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(errPipe[0]);
    ASSERT_TRUE(begun) << "no output was opened";

    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal, not stopped";
    EXPECT_EQ(WEXITSTATUS(status), 128 + GetParam().signal);
    EXPECT_LT(stopping, std::chrono::seconds(1)) << "the workers were not told to stop";
    EXPECT_TRUE(left.empty()) << left.size() << " processes of the converter still run";
    EXPECT_TRUE(ended) << "a process of the converter still runs a second after it exited";
    EXPECT_TRUE(err.starts_with("kestrova-wav-cli: ")) << err;
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_EQ(scratch.names(), before);
    if (GetParam().existingOutput) {
        EXPECT_EQ(test::readBytes(scratch / "long.wav"), "old");
    }
    EXPECT_EQ(test::readBytes(scratch / "long.txt"), longText);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal,
                         ::testing::Values(SignalCase{SIGINT, false}, SignalCase{SIGTERM, true},
                                           SignalCase{SIGHUP, false}),
                         [](const auto& info) {
                             return std::string(info.param.signal == SIGINT    ? "Interrupt"
                                                : info.param.signal == SIGTERM ? "Terminate"
                                                                               : "HangUp") +
                                    (info.param.existingOutput ? "OverAFile" : "");
                         });

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
    ::testing::Values(
        std::vector<std::string>{"convert", "-q", "-e", "slt", "in.txt"},
        std::vector<std::string>{"convert", "-q", "-e", "slt", "notes.wav"},
        std::vector<std::string>{"convert", "-q", "-e", "slt", "-o", "in.txt", "in.txt"},
        std::vector<std::string>{"convert", "-q", "-e", "slt", "-o", "./in.txt", "in.txt"}));

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
    EXPECT_EQ(result.status, 0) << result.err;
    const auto sound = test::readSound(scratch / "x.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->info.samplerate, GetParam().rate);
    EXPECT_EQ(sound->info.format & SF_FORMAT_SUBMASK,
              GetParam().bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
}

INSTANTIATE_TEST_SUITE_P(Options, DecimalNumbers,
                         ::testing::Values(DecimalCase{{"-f", "022"}, 22050, 16},
                                           DecimalCase{{"-f", "010"}, 11025, 16},
                                           DecimalCase{{"-f", "0004"}, 8000, 8},
                                           DecimalCase{{"-f", "18", "-j", "007"}, 16000, 16},
                                           DecimalCase{{"-f", "18", "-j", "1000000"}, 16000, 16}));

// eSpeak NG pointed at an empty data folder cannot start; Flite still serves.
class BrokenESpeakNg : public CommandLine {
protected:
    BrokenESpeakNg() { fs::create_directory(scratch / "no-espeak-data"); }
    Outcome runBroken(const std::vector<std::string>& arguments) {
        return run(arguments, {{{"ESPEAK_DATA_PATH", (scratch / "no-espeak-data").string()}}});
    }
};

TEST_F(BrokenESpeakNg, VoicesListFliteWithOneWarning) {
    const Outcome result = runBroken({"voices"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Flite slt"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("eSpeak NG English"), std::string::npos) << result.out;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_TRUE(result.err.starts_with("kestrova-wav-cli: warning: eSpeak NG is left out: "))
        << result.err;
}

TEST_F(BrokenESpeakNg, FliteVoicesStillConvert) {
    const Outcome result = runBroken({"convert", "-q", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
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
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_NE(result.err.find("eSpeak NG is unavailable: eSpeak NG: cannot initialize"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "no-espeak-data"}));
}

INSTANTIATE_TEST_SUITE_P(Voices, BrokenESpeakNgVoice,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"-e", ""},
                                           std::vector<std::string>{"-e", "eSpeak NG Māori"},
                                           std::vector<std::string>{"-e", "en-us"}));

// Standard error a pipe nobody reads any more: the summary is lost, the conversion is not.
TEST_F(CommandLine, AClosedStandardErrorLosesOnlyTheSummary) {
    const Outcome result =
        run({"convert", "-e", "slt", "-o", "x.wav", "in.txt"}, {{}, /*standardErrorClosed=*/true});
    EXPECT_EQ(result.status, 0) << "the run did not exit (SIGPIPE?)";
    ASSERT_EQ(run({"convert", "-q", "-e", "slt", "-o", "y.wav", "in.txt"}).status, 0);
    const auto sound = test::readSound(scratch / "x.wav");
    const auto reference = test::readSound(scratch / "y.wav");
    ASSERT_TRUE(sound && reference);
    EXPECT_GT(sound->info.frames, 0);
    EXPECT_TRUE(sound->samples == reference->samples);
}

TEST_F(CommandLine, AClosedStandardErrorKeepsAFailureAFailure) {
    const Outcome result = run({"convert", "-e", "slt", "-o", "x.wav", "missing.txt"},
                               {{}, /*standardErrorClosed=*/true});
    EXPECT_EQ(result.status, 1);
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
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    EXPECT_EQ(result.err, "kestrova-wav-cli: cannot write the wave file " + GetParam().shown +
                              ": No such file or directory\n");
}

INSTANTIATE_TEST_SUITE_P(
    Names, NamesInMessages,
    ::testing::Values(QuotedNameCase{"nowhere/plain é.wav", "\"nowhere/plain é.wav\""},
                      QuotedNameCase{"nowhere/a\nb.wav", "'nowhere/a'$'\\n''b.wav'"},
                      QuotedNameCase{"nowhere/\x1B[31mred.wav", "'nowhere/'$'\\033''[31mred.wav'"},
                      QuotedNameCase{"nowhere/caf\xE9.wav", "'nowhere/caf'$'\\351''.wav'"}));

} // namespace
} // namespace kestrova::cli
