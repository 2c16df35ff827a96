#include "support/conversion_support.h"
#include "support/speech_measures.h"
#include "support/value_sweep.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrova::speech {
namespace {

using test::conversion;
using test::ScratchDir;
namespace fs = std::filesystem;

std::string alphanumeric(std::string_view text) {
    std::string name;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)))
            name.push_back(c);
    return name;
}

// Sentences and paragraphs over several chunks.
std::string longTextWithParagraphs() {
    return test::longText() + "\n\n" + std::string(test::paragraphs);
}

// FNV-1a over the file's bytes.
std::uint64_t fingerprint(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char byte : bytes)
        hash = (hash ^ byte) * 0x100000001b3u;
    return hash;
}

struct UnchangedCase {
    std::string voice;
    int formatCode;
    std::uint64_t fingerprint;
};

class DefaultControls : public ::testing::TestWithParam<UnchangedCase> {};

// With no control asked for, a conversion writes the very bytes it wrote before the controls
// existed: the fingerprints are of files written then, by this machine's engines and libsoxr,
// and written again when the chunks came to be rendered in runs from one fresh engine state
// (eSpeak NG and Flite slt carry state from one chunk to the next within a run).
TEST_P(DefaultControls, WriteTheBytesOfBefore) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", longTextWithParagraphs());
    ConversionRequest request = conversion(scratch / "in.txt", scratch / "out.wav",
                                           GetParam().voice, GetParam().formatCode);
    request.jobs = 2;
    convertTextFile(request);
    EXPECT_EQ(fingerprint(test::readBytes(scratch / "out.wav")), GetParam().fingerprint);
}

INSTANTIATE_TEST_SUITE_P(
    VoicesAndRates, DefaultControls,
    test::sweep(UnchangedCase{"eSpeak NG English (America)", 18, 0x19d5e55291e3195bu},
                UnchangedCase{"eSpeak NG English (America)", 22, 0x679c75da8d7787dau},
                UnchangedCase{"Flite slt", 18, 0xf21e348621d56753u},
                UnchangedCase{"Flite slt", 22, 0x71e9fb864132b2d1u}),
    [](const auto& info) {
        return alphanumeric(info.param.voice) + "_Code" + std::to_string(info.param.formatCode);
    });

test::SoundFile render(const ScratchDir& scratch, std::string_view text, std::string_view voice,
                       const VoiceControls& controls, unsigned jobs = 2,
                       ConversionResult* result = nullptr) {
    test::writeBytes(scratch / "in.txt", text);
    fs::remove(scratch / "out.wav");
    ConversionRequest request = conversion(scratch / "in.txt", scratch / "out.wav", voice);
    request.controls = controls;
    request.jobs = jobs;
    const ConversionResult done = convertTextFile(request);
    if (result)
        *result = done;
    return *test::readSound(scratch / "out.wav");
}

class Volume : public ::testing::TestWithParam<std::string> {};

TEST_P(Volume, HalfIsSixDecibelsDown) {
    ScratchDir scratch;
    const double full = test::rmsDecibels(render(scratch, test::shortText, GetParam(), {}).samples);
    VoiceControls half;
    half.volumePercent = 50;
    const double halved =
        test::rmsDecibels(render(scratch, test::shortText, GetParam(), half).samples);
    EXPECT_NEAR(halved - full, -6.02, 0.1);
}

// Each sample is four times the unchanged one's, limited to full scale; the count is of the
// samples whose fourfold lies outside 16 bits (-8192 becomes -32768, which fits).
TEST_P(Volume, FourfoldLimitsAndCountsWhatWouldClip) {
    ScratchDir scratch;
    const std::vector<short> plain = render(scratch, test::shortText, GetParam(), {}).samples;
    VoiceControls loud;
    loud.volumePercent = 400;
    ConversionResult result;
    const test::SoundFile sound = render(scratch, test::shortText, GetParam(), loud, 2, &result);
    ASSERT_EQ(sound.samples.size(), plain.size());
    std::uint64_t wouldClip = 0;
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const int fourfold = 4 * plain[i];
        wouldClip += fourfold > 32767 || fourfold < -32768;
        wrong += sound.samples[i] != std::clamp(fourfold, -32768, 32767);
    }
    EXPECT_GT(wouldClip, 0u);
    EXPECT_EQ(result.limitedSamples, wouldClip);
    EXPECT_EQ(wrong, 0u);
}

INSTANTIATE_TEST_SUITE_P(Voices, Volume, test::sweep("eSpeak NG English (America)", "Flite slt"),
                         [](const auto& info) { return alphanumeric(info.param); });

struct PauseCase {
    std::string name;
    std::string voice;
    std::string text;
    std::optional<int> sentenceMs;
    std::optional<int> paragraphMs;
    std::vector<double> silencesMs; // at every boundary, in order
};

class Pauses : public ::testing::TestWithParam<PauseCase> {};

// The silence at each boundary is the asked length, within a chunk and between chunks alike.
TEST_P(Pauses, LastAsLongAsAsked) {
    ScratchDir scratch;
    VoiceControls controls;
    controls.sentencePauseMs = GetParam().sentenceMs;
    controls.paragraphPauseMs = GetParam().paragraphMs;
    const test::SoundFile sound = render(scratch, GetParam().text, GetParam().voice, controls);
    const std::vector<double> silences = test::innerSilencesMs(
        std::span<const std::int16_t>(sound.samples), sound.info.samplerate, 150);
    ASSERT_EQ(silences.size(), GetParam().silencesMs.size());
    for (std::size_t i = 0; i < silences.size(); ++i)
        EXPECT_NEAR(silences[i], GetParam().silencesMs[i], 30) << "boundary " << i;
}

const std::string twoParagraphs =
    "This is the first sentence. Here is the second one.\n\nA new paragraph starts here. It "
    "ends now.";

INSTANTIATE_TEST_SUITE_P(
    Table, Pauses,
    test::sweep(PauseCase{"ESpeakBoth",
                          "eSpeak NG English (America)",
                          twoParagraphs,
                          800,
                          1500,
                          {800, 1500, 800}},
                PauseCase{"FliteBoth", "Flite slt", twoParagraphs, 800, 1500, {800, 1500, 800}},
                PauseCase{
                    "ESpeakShort", "eSpeak NG English (America)", twoParagraphs, 0, 200, {200}},
                PauseCase{"ESpeakAcrossChunks", "eSpeak NG English (America)",
                          longTextWithParagraphs(), 800, 1500,
                          [] {
                              std::vector<double> expected(59, 800);
                              expected.insert(expected.end(), 4, 1500);
                              return expected;
                          }()}),
    [](const auto& info) { return info.param.name; });

struct IdentityCase {
    std::string voice;
    std::string text;
};

class ControlsAcrossJobs : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(ControlsAcrossJobs, GiveTheSameBytes) {
    ScratchDir scratch;
    VoiceControls controls;
    controls.volumePercent = 150;
    controls.sentencePauseMs = 300;
    controls.paragraphPauseMs = 900;
    const auto bytesWith = [&](unsigned jobs) {
        render(scratch, GetParam().text, GetParam().voice, controls, jobs);
        return test::readBytes(scratch / "out.wav");
    };
    const std::string one = bytesWith(1);
    for (unsigned jobs : {2u, 4u})
        EXPECT_TRUE(bytesWith(jobs) == one) << jobs << " jobs";
}

INSTANTIATE_TEST_SUITE_P(Voices, ControlsAcrossJobs,
                         test::sweep(IdentityCase{"eSpeak NG English (America)",
                                                  longTextWithParagraphs()},
                                     IdentityCase{"Flite slt", std::string(test::paragraphs)}),
                         [](const auto& info) { return alphanumeric(info.param.voice); });

class ControlsThroughWorkers : public ::testing::TestWithParam<std::string> {};

// Rate, pitch and pauses reach the engine through the workers' tasks, each as asked: a
// field lost or taken for another on the way (rate for pitch) speaks otherwise.
TEST_P(ControlsThroughWorkers, SpeakAsAsked) {
    ScratchDir scratch;
    const std::string text = longTextWithParagraphs();
    const test::SoundFile plain = render(scratch, text, GetParam(), {}, 2);
    VoiceControls controls;
    controls.ratePercent = 150;
    controls.pitchPercent = 75;
    controls.sentencePauseMs = 700;
    controls.paragraphPauseMs = 1200;
    const test::SoundFile changed = render(scratch, text, GetParam(), controls, 2);
    const int rate = plain.info.samplerate;
    ASSERT_EQ(changed.info.samplerate, rate);
    const auto samplesOf = [](const test::SoundFile& sound) {
        return std::span<const std::int16_t>(sound.samples);
    };
    const double sounding = test::soundingSeconds(samplesOf(changed), rate) /
                            test::soundingSeconds(samplesOf(plain), rate);
    EXPECT_NEAR(sounding, 1 / 1.5, 0.1 / 1.5) << "the speech lasts as the rate asks";
    const double pitch = test::medianFrequency(samplesOf(changed), rate) /
                         test::medianFrequency(samplesOf(plain), rate);
    EXPECT_NEAR(pitch, 0.75, 0.075) << "the median frequency is as the pitch asks";
    std::vector<double> expected(59, 700);
    expected.insert(expected.end(), 4, 1200);
    const std::vector<double> silences = test::innerSilencesMs(samplesOf(changed), rate, 150);
    ASSERT_EQ(silences.size(), expected.size());
    for (std::size_t i = 0; i < silences.size(); ++i)
        EXPECT_NEAR(silences[i], expected[i], 30) << "boundary " << i;
}

INSTANTIATE_TEST_SUITE_P(Voices, ControlsThroughWorkers,
                         test::sweep("eSpeak NG English (America)", "Flite slt"),
                         [](const auto& info) { return alphanumeric(info.param); });

class LexiconEntries : public ::testing::TestWithParam<std::string> {};

// A word replaced is not spoken and its replacement is: the sound is that of the replacement
// text itself.
TEST_P(LexiconEntries, SoundAsTheirReplacement) {
    ScratchDir scratch;
    test::writeBytes(scratch / "names.lex",
                     "# names\nXochitl = so cheel\n/(\\d+)%/ = $1 percent\n");
    VoiceControls controls;
    controls.lexicons = {scratch / "names.lex"};
    const std::vector<short> replaced =
        render(scratch, "I met Xochitl, 5% of the time.", GetParam(), controls).samples;
    const std::vector<short> spelled =
        render(scratch, "I met so cheel, 5 percent of the time.", GetParam(), {}).samples;
    const std::vector<short> unchanged =
        render(scratch, "I met Xochitl, 5% of the time.", GetParam(), {}).samples;
    EXPECT_TRUE(replaced == spelled);
    EXPECT_FALSE(replaced == unchanged);
}

INSTANTIATE_TEST_SUITE_P(Voices, LexiconEntries,
                         test::sweep("eSpeak NG English (America)", "Flite slt"),
                         [](const auto& info) { return alphanumeric(info.param); });

std::string speak(std::string_view body) {
    return "<?xml version=\"1.0\"?>\n<speak version=\"1.1\" "
           "xmlns=\"http://www.w3.org/2001/10/synthesis\" xml:lang=\"en-US\">" +
           std::string(body) + "</speak>\n";
}

VoiceControls markup() {
    VoiceControls controls;
    controls.ssml = true;
    return controls;
}

class MarkupBreak : public ::testing::TestWithParam<std::string> {};

TEST_P(MarkupBreak, IsSilenceOfTheAskedLength) {
    ScratchDir scratch;
    const test::SoundFile sound =
        render(scratch, speak("First words here.<break time=\"700ms\"/>Then more words."),
               GetParam(), markup());
    EXPECT_EQ(test::innerSilencesMs(std::span<const std::int16_t>(sound.samples),
                                    sound.info.samplerate, 150)
                  .size(),
              1u);
    for (const double silence : test::innerSilencesMs(std::span<const std::int16_t>(sound.samples),
                                                      sound.info.samplerate, 150))
        EXPECT_NEAR(silence, 700, 30);
}

TEST_P(MarkupBreak, SubSoundsAsItsAlias) {
    ScratchDir scratch;
    const std::vector<short> aliased =
        render(scratch, speak("I met <sub alias=\"so cheel\">Xochitl</sub>."), GetParam(), markup())
            .samples;
    const std::vector<short> spelled = render(scratch, "I met so cheel.", GetParam(), {}).samples;
    EXPECT_TRUE(aliased == spelled);
}

INSTANTIATE_TEST_SUITE_P(Voices, MarkupBreak,
                         test::sweep("eSpeak NG English (America)", "Flite slt"),
                         [](const auto& info) { return alphanumeric(info.param); });

// From the first sample above -50 dBFS to the last, in seconds, between from and to.
double audibleSeconds(const std::vector<short>& samples, int rate, std::size_t from = 0,
                      std::size_t to = SIZE_MAX) {
    to = std::min(to, samples.size());
    return test::speakingSeconds(std::span<const std::int16_t>(samples).subspan(from, to - from),
                                 rate);
}

// A dialogue of two voices of the two engines: each part lasts as long as that voice alone
// makes it, each resampled to the output rate; the marks stand where their parts begin.
TEST(MarkupVoices, EachPartLastsAsTheVoiceAloneMakesIt) {
    ScratchDir scratch;
    const std::string first = "Good morning, said the first speaker to her friend.";
    const std::string second = "Good morning to you, answered the second one slowly.";
    ConversionResult result;
    const test::SoundFile dialogue = render(
        scratch,
        speak("<mark name=\"one\"/>" + first + "<break time=\"1500ms\"/><mark name=\"two\"/>" +
              "<voice name=\"Flite slt\">" + second + "</voice><mark name=\"end\"/>"),
        "eSpeak NG English (America)", markup(), 2, &result);
    const int rate = dialogue.info.samplerate;
    // Without timings asked for, the marks are in the timings all the same.
    const std::vector<MarkTiming>& marks = result.timings.marks;
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_EQ(marks[0].name, "one");
    EXPECT_EQ(marks[0].frame, 0u);
    EXPECT_EQ(marks[1].name, "two");
    EXPECT_EQ(marks[2].name, "end");
    EXPECT_EQ(marks[2].frame, result.frames);
    const auto breakAt = static_cast<std::size_t>(marks[1].frame);
    const double firstAlone =
        audibleSeconds(render(scratch, first, "eSpeak NG English (America)", {}).samples, rate);
    const double secondAlone =
        audibleSeconds(render(scratch, second, "Flite slt", {}).samples, rate);
    EXPECT_NEAR(audibleSeconds(dialogue.samples, rate, 0, breakAt), firstAlone, 0.05 * firstAlone);
    EXPECT_NEAR(audibleSeconds(dialogue.samples, rate, breakAt), secondAlone, 0.05 * secondAlone);
    EXPECT_NEAR(1000.0 * static_cast<double>(breakAt) / rate -
                    1000.0 * audibleSeconds(dialogue.samples, rate, 0, breakAt),
                1500, 30)
        << "the break ends where the second part begins";
}

TEST(MarkupVoices, GiveTheSameBytesForAnyNumberOfJobs) {
    ScratchDir scratch;
    const std::string document =
        speak("<p>" + test::longText() + "</p><break time=\"300ms\"/><voice name=\"slt\">" +
              "<prosody rate=\"150%\" volume=\"+6dB\">Then Flite speaks.</prosody></voice>");
    VoiceControls controls = markup();
    controls.sentencePauseMs = 250;
    std::string one;
    for (unsigned jobs : {1u, 2u, 4u}) {
        render(scratch, document, "eSpeak NG English (America)", controls, jobs);
        const std::string bytes = test::readBytes(scratch / "out.wav");
        if (jobs == 1)
            one = bytes;
        else
            EXPECT_TRUE(bytes == one) << jobs << " jobs";
    }
}

// A span in a language the voice does not speak is read by an eSpeak NG voice of that
// language: the samples that voice gives the words alone. A span the voice speaks, or one
// inside a voice named, keeps the voice: the samples of the words untagged.
TEST(MarkupLanguages, ReadASpanWithAVoiceOfItsLanguage) {
    ScratchDir scratch;
    constexpr std::string_view english = "eSpeak NG English (America)";
    const auto samples = [&](std::string_view text, std::string_view voice, bool ssml) {
        return render(scratch, text, voice, ssml ? markup() : VoiceControls{}).samples;
    };
    const std::vector<short> german = samples("Boohoo", "eSpeak NG German", false);
    const std::vector<short> american = samples("Boohoo", english, false);
    ASSERT_FALSE(german == american);
    for (const std::string body :
         {"<p xml:lang=\"de\">Boohoo</p>", "<s xml:lang=\"de-AT\">Boohoo</s>",
          "<lang xml:lang=\"DE\">Boohoo</lang>", "<voice xml:lang=\"de\">Boohoo</voice>"})
        EXPECT_TRUE(samples(speak(body), english, true) == german) << body;
    for (const std::string body :
         {"<p xml:lang=\"en\">Boohoo</p>", "<p xml:lang=\"en-GB\">Boohoo</p>",
          "<p xml:lang=\"de\"><voice name=\"en-us\">Boohoo</voice></p>",
          "<voice name=\"en-us\" xml:lang=\"de\">Boohoo</voice>"})
        EXPECT_TRUE(samples(speak(body), english, true) == american) << body;
    // The voice -e gives keeps a span it speaks.
    EXPECT_TRUE(samples(speak("<p xml:lang=\"de-CH\">Boohoo</p>"), "eSpeak NG German", true) ==
                german);
}

TEST(MarkupLanguages, ALanguageNoVoiceSpeaksWarnsOnceAndKeepsTheVoice) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.ssml",
                     speak("<p xml:lang=\"tlh\">Boohoo</p><s xml:lang=\"tlh\">Boohoo</s>"));
    ConversionRequest request = conversion(scratch / "in.ssml", scratch / "out.wav", "slt");
    request.controls = markup();
    std::vector<std::string> warnings;
    request.warning = [&](const std::string& message) {
        warnings.push_back(message);
    };
    convertTextFile(request);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\"tlh\""), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("Flite slt reads it"), std::string::npos) << warnings[0];
    const std::vector<short> tagged = test::readSound(scratch / "out.wav")->samples;
    EXPECT_TRUE(render(scratch, speak("<p>Boohoo</p><s>Boohoo</s>"), "slt", markup()).samples ==
                tagged);
}

} // namespace
} // namespace kestrova::speech
