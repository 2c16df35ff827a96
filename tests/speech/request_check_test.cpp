#include "speech/conversion_plan.h"
#include "speech/request_check.h"
#include "support/test_support.h"

#include <functional>
#include <gtest/gtest.h>

namespace kestrova::speech {
namespace {

using test::ScratchDir;

// A request as the window program makes one: a wave file of the text at 22.05 kHz.
ConversionRequest plainRequest(const test::fs::path& folder) {
    ConversionRequest request;
    request.input.path = folder / "a.txt";
    request.output.path = folder / "out.wav";
    request.output.format = AudioFormat::fromFormatCode(22);
    return request;
}

// The message of the rule the request breaks; empty when it keeps them all.
std::string refusalOf(const ConversionRequest& request,
                      InputKindSettled kind = InputKindSettled::Named) {
    try {
        checkRequest(request, kind);
    } catch (const RequestRefused& refusal) {
        EXPECT_EQ(refusal.kind(), RefusalKind::Usage) << refusal.what();
        return refusal.what();
    }
    return {};
}

struct RuleCase {
    const char* rule;
    std::function<void(ConversionRequest&)> change;
    std::string refusal; // empty: the request keeps every rule
};

TEST(RequestCheck, EachRuleRefusesTheRequestThatBreaksItAndOnlyThat) {
    const ScratchDir scratch;
    const auto mp3 = [](int formatCode, int kbps) {
        return [=](ConversionRequest& request) {
            request.output.path.replace_extension(".mp3");
            request.output.format = AudioFormat::fromFormatCode(formatCode);
            request.output.bitrateKbps = kbps;
        };
    };
    const std::string choices = "--read-alt, --read-notes and --read-code choose what a "
                                "document's reader leaves out: not with ";
    const std::string pauses = " is refused: a silence is from 0 to 60000 ms";
    const RuleCase cases[] = {
        {"window program's request", [](ConversionRequest&) {}, ""},
        {"reader choice, text", [](auto& r) { r.input.documentChoices.readAlt = true; },
         choices + "plain text input"},
        {"reader choice, SSML",
         [](auto& r) { r.input.documentChoices.readNotes = r.speech.controls.ssml = true; },
         choices + "SSML input"},
        {"reader choice, HTML",
         [](auto& r) {
             r.input.documentChoices.readCode = true;
             r.input.kind = InputKind::Html;
         },
         ""},
        {"tags, --type holding none",
         [](auto& r) {
             r.output.tags.title = "A title";
             r.output.container = Container::Au;
         },
         "tags need a file type that holds them: wav, flac, ogg, opus, mp3 or m4b"},
        {"tags, type by the ending",
         [](auto& r) {
             r.output.tags.title = "A title";
             r.output.path.replace_extension(".au");
         },
         ""},
        {"cover into a stream",
         [](auto& r) {
             r.output.coverFile = "cover.png";
             r.output.toStandardOutput = true;
         },
         "--cover is written into a complete file: not into standard output"},
        {"split into a stream",
         [](auto& r) { r.chapters.split = r.output.toStandardOutput = true; },
         "--split-chapters writes files: not standard output"},
        {"split of SSML",
         [](auto& r) {
             r.chapters.split = true;
             r.input.kind = InputKind::Ssml;
         },
         "chapters are found in plain text: not --split-chapters with --ssml"},
        {"bit rate of a wave file", [](auto& r) { r.output.bitrateKbps = 64; },
         "--bitrate sets the bit rate of an M4B or MP3 file: not of a WAV file"},
        {"bit rate, --type over the ending",
         [](auto& r) {
             r.output.path.replace_extension(".mp3");
             r.output.container = Container::Flac;
             r.output.bitrateKbps = 64;
         },
         "--bitrate sets the bit rate of an M4B or MP3 file: not of a FLAC file"},
        {"bit rate of an M4B stream",
         [](auto& r) {
             r.output.container = Container::M4b;
             r.output.toStandardOutput = true;
             r.output.bitrateKbps = 64;
         },
         ""},
        {"MP3 below 32 kHz", mp3(22, 64),
         "a constant MP3 bit rate needs 32 kHz or more (-f 28 to 37) and 32 kb/s or more: not "
         "22050 Hz at 64 kb/s"},
        {"MP3 below 32 kb/s", mp3(34, 31),
         "a constant MP3 bit rate needs 32 kHz or more (-f 28 to 37) and 32 kb/s or more: not "
         "44100 Hz at 31 kb/s"},
        {"MP3 at 32 kHz and 32 kb/s", mp3(30, 32), ""},
        {"sentence pause", [](auto& r) { r.speech.controls.sentencePauseMs = 60001; },
         "the sentence pause of 60001 ms" + pauses},
        {"paragraph pause", [](auto& r) { r.speech.controls.paragraphPauseMs = -1; },
         "the paragraph pause of -1 ms" + pauses},
        {"chapter pause", [](auto& r) { r.chapters.pauseMs = 60001; },
         "the chapter pause of 60001 ms" + pauses},
        {"lead-in", [](auto& r) { r.mastering.leadInMs = 60001; },
         "the lead-in of 60001 ms" + pauses},
        {"tail", [](auto& r) { r.mastering.tailMs = -5; }, "the tail of -5 ms" + pauses},
        {"every silence at a minute",
         [](auto& r) {
             r.speech.controls.sentencePauseMs = r.speech.controls.paragraphPauseMs = 60000;
             r.chapters.pauseMs = r.mastering.leadInMs = r.mastering.tailMs = 60000;
         },
         ""},
    };
    for (const RuleCase& entry : cases) {
        SCOPED_TRACE(entry.rule);
        ConversionRequest request = plainRequest(scratch.path());
        entry.change(request);
        EXPECT_EQ(refusalOf(request), entry.refusal);
    }
}

// The kind's rules wait for a kind not yet known, and word a kind the content chose as such.
TEST(RequestCheck, TheKindsRulesFollowHowTheKindWasSettled) {
    const ScratchDir scratch;
    ConversionRequest request = plainRequest(scratch.path());
    request.input.documentChoices.readAlt = true;
    EXPECT_EQ(refusalOf(request, InputKindSettled::NotYet), "");
    EXPECT_EQ(refusalOf(request, InputKindSettled::FoundByContent),
              "--read-alt, --read-notes and --read-code choose what a document's reader leaves "
              "out: not with plain text or SSML input");
}

// The plan and the conversion check each request: one another program makes is refused as
// the command line's is, before its input is read or anything is written.
TEST(RequestCheck, PlanAndConversionRefuseARequestThatBreaksARule) {
    const ScratchDir scratch;
    test::writeBytes(scratch / "a.txt",
                     "<?xml version=\"1.0\"?>\n<speak version=\"1.1\" "
                     "xmlns=\"http://www.w3.org/2001/10/synthesis\">Hello.</speak>\n");
    ConversionRequest request = plainRequest(scratch.path());
    request.input.path = scratch / "letter";
    test::fs::rename(scratch / "a.txt", request.input.path);
    request.chapters.split = true;
    try {
        PlanChoices byContent;
        byContent.kindByContent = true;
        planConversion(request, byContent);
        FAIL() << "planned";
    } catch (const RequestRefused& refusal) {
        EXPECT_EQ(refusal.kind(), RefusalKind::Usage);
        EXPECT_EQ(std::string(refusal.what()),
                  "the SSML document \"" + request.input.path.string() +
                      "\" cannot be split into chapters: chapters are found in plain text only");
    }
    request.chapters.split = false;
    request.output.bitrateKbps = 64;
    EXPECT_THROW(convertTextFile(request), RequestRefused);
    EXPECT_EQ(scratch.names(), std::vector<std::string>{"letter"});
}

} // namespace
} // namespace kestrova::speech
