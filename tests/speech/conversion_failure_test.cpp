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

// ---- cancellation ----------------------------------------------------------------------

// When, seen from the progress callback, something happens to a conversion.
enum class Moment {
    BeforeTheStart,     // the cancel flag is set before the call
    AtTheStart,         // the first progress call, 0
    AfterTheFirstChunk, // the second progress call
    AfterTheLastChunk,  // the first call that reports the whole text
};

const char* momentName(Moment moment) {
    switch (moment) {
    case Moment::BeforeTheStart:
        return "BeforeTheStart";
    case Moment::AtTheStart:
        return "AtTheStart";
    case Moment::AfterTheFirstChunk:
        return "AfterTheFirstChunk";
    case Moment::AfterTheLastChunk:
        return "AfterTheLastChunk";
    }
    return "?";
}

// A progress callback that runs act() once, at the moment.
ProgressCallback actAt(Moment moment, std::function<void()> act) {
    return [moment, act, calls = 0, done = false](double fraction) mutable {
        ++calls;
        const bool now = (moment == Moment::AtTheStart && calls == 1) ||
                         (moment == Moment::AfterTheFirstChunk && calls == 2) ||
                         (moment == Moment::AfterTheLastChunk && calls > 1 && fraction >= 1.0);
        if (now && !done) {
            done = true;
            act();
        }
    };
}

struct CancelCase {
    Moment moment;
    bool existingTarget;
    std::string voice;
    std::string text;
};

void PrintTo(const CancelCase& entry, std::ostream* out) {
    *out << momentName(entry.moment) << (entry.existingTarget ? " over a file" : "") << ", "
         << entry.voice;
}

class Cancel : public ::testing::TestWithParam<CancelCase> {};

TEST_P(Cancel, ThrowsAndLeavesNothingBehind) {
    const ConversionScene scene(GetParam().text, GetParam().existingTarget);
    std::atomic<bool> cancel = GetParam().moment == Moment::BeforeTheStart;
    EXPECT_THROW(convertTextFile(conversion(scene.input, scene.output, GetParam().voice, 4),
                                 actAt(GetParam().moment, [&] { cancel = true; }), &cancel),
                 ConversionCancelled);
    EXPECT_TRUE(scene.unchanged());
}

std::vector<CancelCase> cancelCases() {
    std::vector<CancelCase> cases;
    for (Moment moment : {Moment::BeforeTheStart, Moment::AtTheStart, Moment::AfterTheFirstChunk,
                          Moment::AfterTheLastChunk})
        for (bool existingTarget : {false, true}) {
            cases.push_back(
                {moment, existingTarget, std::string(test::fastVoice), test::longText()});
            cases.push_back({moment, existingTarget, "Flite slt", "One sentence."});
        }
    cases.push_back({Moment::BeforeTheStart, true, "Flite slt", ""});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Moments, Cancel, test::sweepIn(cancelCases()));

class CancelFromAnotherThread : public ::testing::TestWithParam<unsigned> {};

// The flag set while the workers render stops the conversion at once, not after the
// chunks in flight.
TEST_P(CancelFromAnotherThread, StopsWithinHalfASecond) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    std::string text;
    while (text.size() < 40000)
        text += "This is one more sentence of a text that takes a while to speak. ";
    test::writeBytes(input, text);
    ConversionRequest request = conversion(input, scratch / "out.wav", "Flite slt");
    request.jobs = GetParam();
    std::atomic<bool> cancel = false;
    std::atomic<bool> cancelled = false;
    std::thread converting([&] {
        try {
            convertTextFile(request, {}, &cancel);
        } catch (const ConversionCancelled&) {
            cancelled = true;
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // Stopped once sound is being written, with the workers rendering on.
    while (test::unfinishedOutput(::getpid(), scratch.path()).value_or(0) <= 44 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto start = std::chrono::steady_clock::now();
    cancel = true;
    converting.join();
    // The workers are polled five times a second; a stop waits for no chunk to finish.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Workers, CancelFromAnotherThread, test::sweep(1u, 2u, 4u));

TEST(Cancel, ReportsTheCancellationNamingTheOutput) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", test::shortText);
    const std::atomic<bool> cancel = true;
    try {
        convertTextFile(conversion(scratch / "in.txt", scratch / "out.wav"), {}, &cancel);
        FAIL() << "not cancelled";
    } catch (const ConversionCancelled& error) {
        EXPECT_NE(std::string(error.what()).find((scratch / "out.wav").string()), std::string::npos)
            << error.what();
    }
}

TEST(Cancel, AnUnsetFlagChangesNothing) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", test::shortText);
    const std::atomic<bool> cancel = false;
    const ConversionResult withFlag =
        convertTextFile(conversion(scratch / "in.txt", scratch / "a.wav"), {}, &cancel);
    const ConversionResult without =
        convertTextFile(conversion(scratch / "in.txt", scratch / "b.wav"));
    EXPECT_EQ(withFlag.frames, without.frames);
    EXPECT_GT(withFlag.frames, 0u);
}

// A progress callback that throws stands in for a failure in the middle of the text: the
// exception comes out unchanged and the half-written file goes.
class FailureInTheMiddle : public ::testing::TestWithParam<CancelCase> {};

TEST_P(FailureInTheMiddle, PropagatesAndLeavesNothingBehind) {
    const ConversionScene scene(GetParam().text, GetParam().existingTarget);
    try {
        convertTextFile(
            conversion(scene.input, scene.output, GetParam().voice, 4),
            actAt(GetParam().moment, [] { throw std::runtime_error("injected failure"); }));
        FAIL() << "the failure was swallowed";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "injected failure");
    }
    EXPECT_TRUE(scene.unchanged());
}

std::vector<CancelCase> failureCases() {
    std::vector<CancelCase> cases;
    for (Moment moment :
         {Moment::AtTheStart, Moment::AfterTheFirstChunk, Moment::AfterTheLastChunk})
        for (bool existingTarget : {false, true}) {
            cases.push_back(
                {moment, existingTarget, std::string(test::fastVoice), test::longText()});
            cases.push_back({moment, existingTarget, "Flite kal", "One sentence."});
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Moments, FailureInTheMiddle, test::sweepIn(failureCases()));

TEST(FailureInTheMiddle, LeavesTheEnginesUsable) {
    for (const char* voice : {"eSpeak NG English (America)", "Flite slt"}) {
        ScratchDir scratch;
        const auto input = scratch / "in.txt";
        test::writeBytes(input, test::shortText);
        const ConversionResult first = convertTextFile(conversion(input, scratch / "a.wav", voice));
        std::filesystem::remove(scratch / "a.wav");
        EXPECT_THROW(convertTextFile(conversion(input, scratch / "b.wav", voice),
                                     actAt(Moment::AfterTheFirstChunk,
                                           [] { throw std::runtime_error("injected failure"); })),
                     std::runtime_error);
        const ConversionResult after = convertTextFile(conversion(input, scratch / "c.wav", voice));
        EXPECT_EQ(after.frames, first.frames) << voice;
        EXPECT_EQ(scratch.names(), (std::vector<std::string>{"c.wav", "in.txt"}));
    }
}

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
    const auto folder = request.output.parent_path();
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
                                request.replaceExisting = false;
                                return request;
                            }},
                FailureCase{"NoClobberOverAFolder",
                            [](const ScratchDir& scratch, std::string& named) {
                                test::fs::create_directory(scratch / "out.wav");
                                named = (scratch / "out.wav").string();
                                ConversionRequest request = withText(scratch, scratch / "out.wav");
                                request.replaceExisting = false;
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
    request.replaceExisting = false;
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
    request.voice =
        Voice{GetParam().engine, "No such voice", "nosuch", "en", 22050, "no-such-engine-voice"};
    request.jobs = GetParam().jobs;
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
