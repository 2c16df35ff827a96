#include "speech/speech_error.h"
#include "speech/text_to_speech.h"
#include "support/conversion_support.h"
#include "support/value_sweep.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace kestrova::speech {
namespace {

using test::conversion;
using test::ConversionScene;
using test::olderContent;
using test::ScratchDir;

// ---- every failure path ----------------------------------------------------------------

struct FailureCase {
    std::string name;
    // Prepares the scratch folder; returns the request, and sets named to the path the
    // message must name.
    std::function<ConversionRequest(const ScratchDir&, std::string& named)> setUp;
    bool skipAsRoot = false;
};

void PrintTo(const FailureCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ConversionFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ConversionFailure, ThrowsNamingTheFileAndLeavesEverythingAsItWas) {
    if (GetParam().skipAsRoot && test::runningAsRoot())
        GTEST_SKIP() << "root is not stopped by permissions";
    ScratchDir scratch;
    std::string named;
    const ConversionRequest request = GetParam().setUp(scratch, named);
    const auto before = test::snapshot(scratch.path());
    try {
        convertTextFile(request);
        FAIL() << "the conversion succeeded";
    } catch (const ConversionCancelled& error) {
        FAIL() << "a failure reported as a cancellation: " << error.what();
    } catch (const SpeechError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("\"" + named + "\""), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_EQ(test::snapshot(scratch.path()), before);
    const auto folder = request.output.path.parent_path();
    if (test::fs::is_directory(folder)) {
        EXPECT_TRUE(test::leftoverParts(folder).empty());
    }
}

ConversionRequest withText(const ScratchDir& scratch, const test::fs::path& output,
                           int formatCode = 22) {
    test::writeBytes(scratch / "in.txt", test::shortText);
    return conversion(scratch / "in.txt", output, "Flite slt", formatCode);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ConversionFailure,
    test::sweep(FailureCase{"MissingInput",
                            [](const ScratchDir& scratch, std::string& named) {
                                named = (scratch / "missing.txt").string();
                                return conversion(scratch / "missing.txt", scratch / "out.wav");
                            }},
                FailureCase{"MissingInputOverAFile",
                            [](const ScratchDir& scratch, std::string& named) {
                                named = (scratch / "missing.txt").string();
                                test::writeBytes(scratch / "out.wav", olderContent);
                                return conversion(scratch / "missing.txt", scratch / "out.wav");
                            }},
                FailureCase{"InputIsAFolder",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::fs::create_directory(scratch / "folder.txt");
                                named = (scratch / "folder.txt").string();
                                return conversion(scratch / "folder.txt", scratch / "out.wav");
                            }},
                FailureCase{"UnreadableInput",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::writeBytes(scratch / "in.txt", test::shortText);
                                ::chmod((scratch / "in.txt").c_str(), 0);
                                named = (scratch / "in.txt").string();
                                return conversion(scratch / "in.txt", scratch / "out.wav");
                            },
                            true},
                FailureCase{"OutputIsTheInput",
                            [](const ScratchDir& scratch, std::string& named) {
                                named = (scratch / "in.txt").string();
                                return withText(scratch, scratch / "in.txt");
                            }},
                FailureCase{"OutputIsTheInputByAnotherName",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::fs::create_directory(scratch / "sub");
                                named = (scratch / "sub" / ".." / "in.txt").string();
                                return withText(scratch, scratch / "sub" / ".." / "in.txt");
                            }},
                FailureCase{"OutputFolderMissing",
                            [](const ScratchDir& scratch, std::string& named) {
                                named = (scratch / "no folder" / "out.wav").string();
                                return withText(scratch, scratch / "no folder" / "out.wav");
                            }},
                FailureCase{"OutputIsAFolder",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::fs::create_directory(scratch / "out.wav");
                                test::writeBytes(scratch / "out.wav" / "inside", olderContent);
                                named = (scratch / "out.wav").string();
                                return withText(scratch, scratch / "out.wav");
                            }},
                FailureCase{"OutputEndsInASlash",
                            [](const ScratchDir& scratch, std::string& named) {
                                named = (scratch / "out.wav/").string();
                                return withText(scratch, scratch / "out.wav/");
                            }},
                FailureCase{"OutputInAReadOnlyFolder",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::fs::create_directory(scratch / "locked");
                                test::writeBytes(scratch / "locked" / "out.wav", olderContent);
                                ::chmod((scratch / "locked").c_str(), 0555);
                                named = (scratch / "locked" / "out.wav").string();
                                return withText(scratch, scratch / "locked" / "out.wav");
                            },
                            true},
                FailureCase{"OutputWhereNobodyMayWrite",
                            [](const ScratchDir& scratch, std::string& named) {
                                named = "/proc/kestrova-test-out.wav";
                                return withText(scratch, "/proc/kestrova-test-out.wav");
                            }},
                FailureCase{"OutputUnderAFile",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::writeBytes(scratch / "file", olderContent);
                                named = (scratch / "file" / "out.wav").string();
                                return withText(scratch, scratch / "file" / "out.wav");
                            }},
                FailureCase{"NoClobberOverAFile",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::writeBytes(scratch / "out.wav", olderContent);
                                named = (scratch / "out.wav").string();
                                ConversionRequest request = withText(scratch, scratch / "out.wav");
                                request.output.replaceExisting = false;
                                return request;
                            }},
                FailureCase{"NoClobberOverAFolder",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::fs::create_directory(scratch / "out.wav");
                                named = (scratch / "out.wav").string();
                                ConversionRequest request = withText(scratch, scratch / "out.wav");
                                request.output.replaceExisting = false;
                                return request;
                            }}),
    [](const auto& info) { return info.param.name; });

// Opus has no 22.05 kHz: the file is made at 24 kHz, the next rate it has, and says so.
TEST(Opus, AtARateItLacksIsMadeAtTheNextRate) {
    ScratchDir scratch;
    const ConversionResult result = convertTextFile(withText(scratch, scratch / "out.opus", 22));
    EXPECT_EQ(result.format.sampleRate, 24000);
    const auto sound = test::readSound(scratch / "out.opus");
    ASSERT_TRUE(sound);
    EXPECT_NEAR(static_cast<double>(sound->info.frames) / sound->info.samplerate, result.seconds,
                0.1);
}

TEST(NoClobber, WritesWhenNothingIsThere) {
    ScratchDir scratch;
    ConversionRequest request = withText(scratch, scratch / "out.wav");
    request.output.replaceExisting = false;
    const ConversionResult result = convertTextFile(request);
    EXPECT_GT(result.frames, 0u);
    EXPECT_TRUE(test::readSound(scratch / "out.wav"));
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "out.wav"}));
}

TEST(Replace, ReplacesAFileAlreadyThere) {
    ScratchDir scratch;
    test::writeBytes(scratch / "out.wav", olderContent);
    convertTextFile(withText(scratch, scratch / "out.wav"));
    EXPECT_TRUE(test::readSound(scratch / "out.wav"));
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "out.wav"}));
}

TEST(Replace, WritesThroughASymbolicLink) {
    ScratchDir scratch;
    test::writeBytes(scratch / "elsewhere.wav", olderContent);
    test::fs::create_symlink("elsewhere.wav", scratch / "out.wav");
    convertTextFile(withText(scratch, scratch / "out.wav"));
    EXPECT_TRUE(test::readSound(scratch / "elsewhere.wav"));
    EXPECT_EQ(test::fs::read_symlink(scratch / "out.wav"), "elsewhere.wav");
}

// ---- engine failures -------------------------------------------------------------------

struct EngineFailureCase {
    std::string name;
    EngineKind engine;
    unsigned jobs;
    bool existingTarget;
};

void PrintTo(const EngineFailureCase& entry, std::ostream* out) {
    *out << entry.name;
}

class EngineFailure : public ::testing::TestWithParam<EngineFailureCase> {};

// A voice the engine does not have makes the real engine fail once rendering has begun:
// the failure names the text file, and the half-made output goes.
TEST_P(EngineFailure, NamesTheTextFileAndLeavesNothingBehind) {
    const ConversionScene scene(test::paragraphs, GetParam().existingTarget);
    ConversionRequest request = conversion(scene.input, scene.output);
    request.speech.voice =
        Voice{GetParam().engine, "No such voice", "nosuch", "en", 22050, "no-such-engine-voice"};
    request.speech.jobs = GetParam().jobs;
    try {
        convertTextFile(request);
        FAIL() << "rendered with a voice that does not exist";
    } catch (const ConversionCancelled& error) {
        FAIL() << "reported as a cancellation: " << error.what();
    } catch (const SpeechError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("\"" + scene.input.string() + "\""), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_TRUE(scene.unchanged());
}

INSTANTIATE_TEST_SUITE_P(
    Engines, EngineFailure,
    test::sweep(EngineFailureCase{"FliteHere", EngineKind::Flite, 0, false},
                EngineFailureCase{"FliteHereOverAFile", EngineKind::Flite, 0, true},
                EngineFailureCase{"FliteInWorkers", EngineKind::Flite, 2, true},
                EngineFailureCase{"ESpeakNgHere", EngineKind::EspeakNg, 0, false},
                EngineFailureCase{"ESpeakNgHereOverAFile", EngineKind::EspeakNg, 0, true},
                EngineFailureCase{"ESpeakNgInWorkers", EngineKind::EspeakNg, 2, true}),
    [](const auto& info) { return info.param.name; });

// ---- the control's argument checks -----------------------------------------------------

struct ArgumentCase {
    std::string name;
    int firstCharacter;
    int encodingMode;
    int characterCount;
    int writeFlags;
    int formatCode;
    int waitMode;
    std::string mentioned; // the bad value, as the message gives it
};

void PrintTo(const ArgumentCase& entry, std::ostream* out) {
    *out << entry.name;
}

class RefusedArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(RefusedArguments, ThrowBeforeTouchingTheOutput) {
    for (bool existingTarget : {false, true}) {
        ScratchDir scratch;
        test::writeBytes(scratch / "in.txt", test::shortText);
        if (existingTarget)
            test::writeBytes(scratch / "out.wav", olderContent);
        const auto before = test::snapshot(scratch.path());
        TextToSpeech speech(test::installedVoices());
        speech.SetEngineProperty(TextToSpeech::engineNameProperty, "Flite slt");
        const auto& p = GetParam();
        try {
            speech.ConvertTextFileToWave(
                (scratch / "in.txt").string(), p.firstCharacter, p.encodingMode, p.characterCount,
                (scratch / "out.wav").string(), p.writeFlags, p.formatCode, p.waitMode);
            FAIL() << "accepted";
        } catch (const SpeechError& error) {
            EXPECT_NE(std::string(error.what()).find(p.mentioned), std::string::npos)
                << error.what();
        }
        EXPECT_EQ(test::snapshot(scratch.path()), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedArguments,
    test::sweep(ArgumentCase{"FormatCode99", 0, 2, -1, 3, 99, 1, "99"},
                ArgumentCase{"FormatCode3", 0, 2, -1, 3, 3, 1, "3"},
                ArgumentCase{"FormatCode40", 0, 2, -1, 3, 40, 1, "40"},
                ArgumentCase{"FormatCodeNegative", 0, 2, -1, 3, -1, 1, "-1"},
                ArgumentCase{"WaitMode0", 0, 2, -1, 3, 22, 0, "wait mode 0"},
                ArgumentCase{"WaitMode2", 0, 2, -1, 3, 22, 2, "wait mode 2"},
                ArgumentCase{"EncodingMode7", 0, 7, -1, 3, 22, 1, "7"},
                ArgumentCase{"EncodingModeNegative", 0, -1, -1, 3, 22, 1, "-1"},
                ArgumentCase{"FirstCharacterNegative", -1, 2, -1, 3, 22, 1, "-1"},
                ArgumentCase{"CharacterCountBelowMinusOne", 0, 2, -2, 3, 22, 1, "-2"}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace kestrova::speech
