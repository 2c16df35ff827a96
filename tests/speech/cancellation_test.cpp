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
    request.speech.jobs = GetParam();
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
} // namespace
} // namespace kestrova::speech
