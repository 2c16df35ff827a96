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

TEST_F(CommandLine, VoicesListsBothEngines) {
    const Outcome result = run({"voices"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_NE(result.standardOutput.find("eSpeak NG English (America)"), std::string::npos);
    EXPECT_NE(result.standardOutput.find("Flite slt"), std::string::npos);
    EXPECT_NE(result.standardOutput.find("Flite kal16"), std::string::npos);
    EXPECT_EQ(result.standardError, "");
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
    EXPECT_EQ(json.exitStatus(), 0) << json.standardError;
    EXPECT_EQ(json.standardError, "");
    test::writeBytes(scratch / "voices.json", json.standardOutput);
    // The listing: a header, a line per voice, a blank line and the default voice.
    const int listed = static_cast<int>(test::lineCount(listing.standardOutput)) - 3;
    EXPECT_GT(listed, 10);
    EXPECT_EQ(voicesInJson(scratch / "voices.json"), listed) << json.standardOutput;
    EXPECT_NE(
        json.standardOutput.find("{\"displayName\": \"Flite slt\", \"id\": \"slt\", \"language\": "
                                 "\"en-us\", \"nativeRate\": 16000, \"engine\": \"Flite\""),
        std::string::npos)
        << json.standardOutput;
}

TEST_F(CommandLine, ConvertWritesTheFormatAsked) {
    const Outcome result = run({"convert", "-q", "-e", "slt", "-f", "18", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(rateOf("x.wav"), 16000);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "");
    expectInputIntact();
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "x.wav"}));
}

TEST_F(CommandLine, ConvertTakesLongOptionsAndAbsolutePaths) {
    const Outcome result =
        run({"convert", "--quiet", "--engine", "Flite kal", "--format", "39", "--output",
             (scratch / "x.wav").string(), (scratch / "in.txt").string()});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    const auto sound = test::readSound(scratch / "x.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->info.samplerate, 48000);
    EXPECT_EQ(sound->info.channels, 2);
}

TEST_F(CommandLine, ConvertWritesBesideTheInputByDefault) {
    fs::create_directory(scratch / "sub");
    test::writeBytes(scratch / "sub" / "notes.text.txt", text);
    const Outcome result = run({"convert", "-q", "-e", "slt", "sub/notes.text.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(rateOf("sub/notes.text.wav"), 22050);
    EXPECT_EQ(test::readBytes(scratch / "sub" / "notes.text.txt"), text);
}

TEST_F(CommandLine, ConvertAddsTheEndingToAnInputWithout) {
    test::writeBytes(scratch / "notes", text);
    const Outcome result = run({"convert", "-q", "-e", "slt", "notes"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
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
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(rateOf("x.wav"), GetParam().rate);
}

INSTANTIATE_TEST_SUITE_P(Engines, DefaultFormat,
                         test::sweep(DefaultRateCase{{"-e", "slt"}, 22050},
                                     DefaultRateCase{{"-e", "Flite kal16"}, 22050},
                                     DefaultRateCase{{"-e", "kal"}, 22050},
                                     DefaultRateCase{{}, 22050},
                                     DefaultRateCase{{"-e", ""}, 22050}));

TEST_F(CommandLine, ConvertChoosesTheContainerByTheEnding) {
    const Outcome result = run({"convert", "-q", "-e", "slt", "-o", "x.flac", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    const auto sound = test::readSound(scratch / "x.flac");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->majorFormat(), SF_FORMAT_FLAC);
}

TEST_F(CommandLine, ConvertSummarizesOnStandardErrorUnlessQuiet) {
    const Outcome result = run({"convert", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_NE(result.standardError.find("x.wav"), std::string::npos) << result.standardError;
    EXPECT_NE(result.standardError.find("Flite slt"), std::string::npos) << result.standardError;
    EXPECT_EQ(result.standardOutput, "");
}

TEST_F(CommandLine, TheSummaryCountsLimitedSamplesOnlyWhenThereAreAny) {
    Outcome result = run({"convert", "-e", "slt", "--volume", "400", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_NE(result.standardError.find(" samples limited\n"), std::string::npos)
        << result.standardError;
    result = run({"convert", "-e", "slt", "--volume", "050", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(result.standardError.find("limited"), std::string::npos) << result.standardError;
}

TEST_F(CommandLine, ABadLexiconLineFailsBeforeAnythingIsWritten) {
    test::writeBytes(scratch / "good.lex", "Xochitl = so cheel\n");
    test::writeBytes(scratch / "bad.lex", "# names\nno equals sign here\n");
    const Outcome result = run({"convert", "-e", "slt", "--lexicon", "good.lex", "--lexicon",
                                "bad.lex", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 1) << result.standardError;
    EXPECT_TRUE(result.standardError.starts_with("kestrova-wav-cli: bad.lex:2: "))
        << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"bad.lex", "good.lex", "in.txt"}));
}

TEST_F(CommandLine, MalformedMarkupFailsWithLineAndColumnBeforeAnythingIsWritten) {
    test::writeBytes(scratch / "bad.ssml", "<speak>\n  <p>words</s>\n</speak>\n");
    const Outcome result = run({"convert", "-e", "slt", "--ssml", "-o", "x.wav", "bad.ssml"});
    EXPECT_EQ(result.exitStatus(), 1) << result.standardError;
    EXPECT_TRUE(result.standardError.starts_with("kestrova-wav-cli: bad.ssml:2:"))
        << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"bad.ssml", "in.txt"}));
}

TEST_F(CommandLine, AnUnknownElementIsReadAsTextWithOneWarning) {
    test::writeBytes(scratch / "odd.ssml", "<speak>Some <odd>unusual</odd> words.</speak>\n");
    const Outcome result = run({"convert", "-e", "slt", "--ssml", "-o", "x.wav", "odd.ssml"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_TRUE(result.standardError.starts_with("kestrova-wav-cli: warning: odd.ssml:1:"))
        << result.standardError;
    EXPECT_NE(result.standardError.find("odd"), std::string::npos) << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 2u)
        << result.standardError; // the warning and the summary
}

TEST_F(CommandLine, ALanguageNoVoiceSpeaksIsReadWithOneWarning) {
    test::writeBytes(scratch / "lang.ssml", "<speak><p xml:lang=\"de\">Boohoo</p>"
                                            "<p xml:lang=\"tlh\">Qapla</p></speak>\n");
    const Outcome result = run({"convert", "-e", "slt", "--ssml", "-o", "x.wav", "lang.ssml"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_TRUE(result.standardError.starts_with(
        "kestrova-wav-cli: warning: lang.ssml: no eSpeak NG voice speaks the language \"tlh\""))
        << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 2u) << result.standardError;
    // Many languages no voice speaks: five told, then their number.
    std::string many = "<speak>";
    for (int i = 0; i < 12; ++i)
        many += "<s xml:lang=\"q" + std::to_string(i) + "\">a</s>";
    test::writeBytes(scratch / "many.ssml", many + "</speak>\n");
    const Outcome flood = run({"convert", "-q", "-e", "slt", "--ssml", "-o", "x.wav", "many.ssml"});
    EXPECT_EQ(flood.exitStatus(), 0) << flood.standardError;
    EXPECT_EQ(test::lineCount(flood.standardError), 6u) << flood.standardError;
    EXPECT_NE(flood.standardError.find("\nkestrova-wav-cli: warning: many.ssml: 7 more languages "
                                       "that no eSpeak NG voice speaks are read by the voice in "
                                       "effect there\n"),
              std::string::npos)
        << flood.standardError;
}

TEST_F(CommandLine, NoClobberKeepsAnExistingFile) {
    test::writeBytes(scratch / "x.wav", "old");
    Outcome result = run({"convert", "-q", "-n", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 1);
    EXPECT_TRUE(result.standardError.starts_with("kestrova-wav-cli: ")) << result.standardError;
    EXPECT_EQ(test::readBytes(scratch / "x.wav"), "old");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "x.wav"}));
    result = run({"convert", "-q", "-e", "slt", "-o", "x.wav", "in.txt"});
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(rateOf("x.wav"), 22050);
}

struct HelpCase {
    std::vector<std::string> arguments;
    std::string mentions;
};

class Help : public CommandLine, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(Help, SucceedsAndDescribesTheCommands) {
    const Outcome result = run(GetParam().arguments);
    EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_NE((result.standardOutput + result.standardError).find(GetParam().mentions),
              std::string::npos)
        << result.standardOutput;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Forms, Help,
                         test::sweep(HelpCase{{"--help"}, "convert"}, HelpCase{{"-h"}, "voices"},
                                     HelpCase{{"convert", "--help"}, "--no-clobber"},
                                     HelpCase{{"convert", "--help"}, "At most 4 per core"},
                                     HelpCase{{"convert", "--help"}, "--sentence-pause"},
                                     HelpCase{{"convert", "--help"}, "--lexicon"},
                                     HelpCase{{"convert", "--help"},
                                              "--type wav|au|flac|ogg|opus|mp3|m4b|raw|epub\n"}));

// Every --type gives the outputs of -d its own ending, and the help shows the names alone.
TEST_F(CommandLine, EachTypeNamesItsOutputsWithItsEnding) {
    const std::pair<const char*, const char*> types[] = {
        {"wav", "in.wav"},   {"au", "in.au"},   {"FLAC", "in.flac"}, {"ogg", "in.ogg"},
        {"opus", "in.opus"}, {"mp3", "in.mp3"}, {"raw", "in.raw"},   {"M4B", "in.m4b"}};
    for (const auto& [type, name] : types) {
        const Outcome result =
            run({"convert", "-q", "-e", "slt", "--type", type, "-d", "out", "in.txt"});
        EXPECT_EQ(result.exitStatus(), 0) << type << ": " << result.standardError;
        EXPECT_TRUE(std::filesystem::is_regular_file(scratch / "out" / name)) << type;
    }
    const Outcome help = run({"convert", "--help"});
    EXPECT_EQ(help.standardOutput.find("->"), std::string::npos) << help.standardOutput;
}

// The containers --cover and --chapters name are read from the container table, so that a new
// one that holds a cover or chapters is named there too (M4B was once left out of both).
TEST_F(CommandLine, HelpNamesEveryContainerThatHoldsACoverOrChapters) {
    const std::string help = run({"convert", "--help"}).standardOutput;
    const auto lineOf = [&help](const std::string& option) {
        const std::size_t start = help.find("\n  " + option + " ");
        EXPECT_NE(start, std::string::npos) << option;
        return start == std::string::npos ? std::string()
                                          : help.substr(start, help.find('\n', start + 1) - start);
    };
    const std::string cover = lineOf("--cover");
    const std::string chapters = lineOf("--chapters");
    for (const speech::ContainerRow& row : speech::containerRows()) {
        EXPECT_TRUE(!row.holdsCover || cover.find(row.name) != std::string::npos)
            << row.name << cover;
        EXPECT_TRUE(!row.holdsChapters || chapters.find(row.name) != std::string::npos)
            << row.name << chapters;
    }
}
} // namespace
} // namespace kestrova::cli
