#include "speech/speech_error.h"
#include "speech/text/readers/ssml/ssml_reader.h"
#include "ssml_reader_cases.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

struct ScriptCase {
    std::string name;
    std::string body; // inside <speak>
    std::string script;
};

void PrintTo(const ScriptCase& entry, std::ostream* out) {
    *out << entry.name;
}

class SsmlScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(SsmlScript, ReadsTheMarkupIntoRunsBreaksAndMarks) {
    const std::string document = "<speak>" + GetParam().body + "</speak>";
    EXPECT_EQ(describe(readSsml(document, source)), GetParam().script);
}

const ScriptCase scriptCases[] = {
    {"WhiteSpaceCollapses", "  Hello \n\t  world  ", "Hello world"},
    {"PredefinedEntitiesAndCharacterReferences", "Tom &amp; Jerry &lt;3 &#233;",
     "Tom & Jerry <3 \xC3\xA9"},
    {"CommentsSkippedCdataRead", "a<!-- not spoken --> <![CDATA[b < c]]>", "a b < c"},
    {"Paragraphs", "<p>One.</p> <p>Two.</p>", "One. | <P> | Two."},
    {"SentencesInParagraphs", "<p><s>A.</s><s>B.</s></p><p><s>C.</s></p>",
     "A. | <S> | B. | <P> | C."},
    {"TextAroundAParagraph", "Intro <p>Body</p> outro", "Intro | <P> | Body | <P> | outro"},
    {"NoBoundaryBeforeTheFirstRunOrAfterTheLast", "<p></p><p><s>x</s></p><p/>", "x"},
    {"BreakTimes", "a<break time=\"500ms\"/>b<break time=\"1.5s\"/>c<break time=\" 2s \"/>d",
     "a | <500ms> | b | <1500ms> | c | <2000ms> | d"},
    {"BreakStrengths",
     "a<break strength=\"none\"/>b<break strength=\"x-weak\"/>c<break strength=\"weak\"/>d"
     "<break strength=\"medium\"/>e<break strength=\"strong\"/>f<break strength=\"x-strong\"/>g",
     "a | <0ms> | b | <100ms> | c | <200ms> | d | <400ms> | e | <700ms> | f | <1200ms> | g"},
    {"BreakAloneIsMediumTimeWinsOverStrength",
     "a<break/>b<break strength=\"weak\" time=\"50ms\"/>c", "a | <400ms> | b | <50ms> | c"},
    {"BreakAtASentenceEndReplacesItsPause",
     "<s>a</s><break time=\"1s\"/><s>b</s><p>c<break strength=\"none\"/></p>d",
     "a | <1000ms> | b | <P> | c | <0ms> | d"},
    {"MarksDoNotSeparateBoundaries",
     "<s>a</s><mark name=\"m\"/><p>b</p><mark name=\"n\"/><break time=\"9ms\"/>c"
     "<s>d</s><mark name=\"end\"/>",
     "a | <P> | #m | b | <9ms> | #n | c | <S> | d | #end"},
    {"SubReplacesItsContent", "The <sub alias=\"World Wide Web Consortium\">W3C</sub> says",
     "The World Wide Web Consortium says"},
    {"ReferencesInAnAttribute", "<sub alias=\"Tom &amp; Jerry &lt;3 &#38;#38; &#233;\">x</sub>",
     "Tom & Jerry <3 &#38; \xC3\xA9"},
    {"SayAsCharacters", "Call <say-as interpret-as=\"characters\">ABC</say-as> now",
     "Call A B C now"},
    {"SayAsSpellOutKeepsMultibyteLetters", "<say-as interpret-as=\"spell-out\">Zo\xC3\xAB</say-as>",
     "Z o \xC3\xAB"},
    {"SayAsDigits", "<say-as interpret-as=\"digits\">20 24</say-as>", "2 0 2 4"},
    {"SayAsOtherIsText", "<say-as interpret-as=\"date\" format=\"ymd\">2024-01-02</say-as>",
     "2024-01-02"},
    {"VoicesNestAndRestore",
     "Narrator <voice name=\"en-us\">Ann says <voice name=\"slt\">hello</voice> back</voice> end",
     "Narrator | Ann says@en-us | hello@slt | back@en-us | end"},
    {"VoiceWithoutANameKeepsTheVoice", "<voice gender=\"female\">same</voice> voice", "same voice"},
    {"Marks", "a <mark name=\"here\"/> b<mark name=\"end\"/>", "a | #here | b | #end"},
    {"EqualVoicingMerges",
     "Hello <prosody rate=\"100%\">big</prosody> <emphasis level=\"none\">"
     "wide</emphasis> world",
     "Hello big wide world"},
    {"ProsodySplitsRuns", "a <prosody rate=\"200%\" volume=\"+6dB\">b</prosody> c",
     "a | b{2,1,1.995} | c"},
    {"ForeignElementOfAKnownNameIsText", "<x:break xmlns:x=\"urn:x\" time=\"never\">kept</x:break>",
     "kept"},
    {"NestedSpeakIsAContainer", "<speak>inner</speak>", "inner"},
};

INSTANTIATE_TEST_SUITE_P(Ssml, SsmlScript, ::testing::ValuesIn(scriptCases),
                         [](const auto& info) { return info.param.name; });

TEST(SsmlReader, ReadsTheSsmlNamespaceAndAnUnloadedDtd) {
    const std::string document =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE speak PUBLIC \"-//W3C//DTD SYNTHESIS 1.0//EN\" "
        "\"http://www.w3.org/TR/speech-synthesis/synthesis.dtd\">\n<speak version=\"1.1\" "
        "xmlns=\"http://www.w3.org/2001/10/synthesis\" xml:lang=\"en-US\"><p>Hi</p></speak>";
    EXPECT_EQ(describe(readSsml(document, source)), "Hi");
}

class SsmlProsody : public ::testing::TestWithParam<ProsodyCase> {};

TEST_P(SsmlProsody, GivesTheRunItsRatePitchAndVolume) {
    const SpeechScript script = readSsml("<speak>" + GetParam().body + "</speak>", source);
    ASSERT_EQ(script.size(), 1u) << describe(script);
    const Prosody& actual = std::get<SpeechRun>(script.front()).prosody;
    const Prosody& expected = GetParam().prosody;
    EXPECT_NEAR(actual.rate, expected.rate, 1e-3);
    EXPECT_NEAR(actual.pitch, expected.pitch, 1e-3);
    EXPECT_NEAR(actual.volume, expected.volume, 1e-3);
}

const ProsodyCase prosodyCases[] = {
    rate("RatePercentage", "150%", 1.5),
    rate("RateRaised", "+20%", 1.2),
    rate("RateLowered", "-10%", 0.9),
    rate("RateMultiplier", "2", 2.0),
    rate("RateXSlow", "x-slow", 0.5),
    rate("RateSlow", "slow", 0.75),
    rate("RateMedium", "medium", 1.0),
    rate("RateFast", "fast", 1.5),
    rate("RateXFast", "x-fast", 2.0),
    rate("RateDefault", "default", 1.0),
    rate("RateClampedHigh", "1000%", 4.0),
    rate("RateClampedLow", "10%", 0.25),
    pitch("PitchPercentage", "150%", 1.5),
    pitch("PitchRaised", "+10%", 1.1),
    pitch("PitchSemitones", "+2st", 1.12246),
    pitch("PitchSemitonesDown", "-12st", 0.5),
    pitch("PitchXLow", "x-low", 0.7),
    pitch("PitchLow", "low", 0.85),
    pitch("PitchHigh", "high", 1.2),
    pitch("PitchXHigh", "x-high", 1.4),
    pitch("PitchClamped", "300%", 2.0),
    volume("VolumePercentage", "50%", 0.5),
    volume("VolumeUpDecibels", "+6dB", 1.99526),
    volume("VolumeDownDecibels", "-6dB", 0.50119),
    volume("VolumeSilent", "silent", 0.0),
    volume("VolumeXSoft", "x-soft", 0.25119),
    volume("VolumeSoft", "soft", 0.50119),
    volume("VolumeMedium", "medium", 1.0),
    volume("VolumeLoud", "loud", 1.99526),
    volume("VolumeXLoud", "x-loud", 3.98107),
    volume("VolumeClampedHigh", "500%", 4.0),
    volume("VolumeClampedAtSilence", "-200%", 0.0),
    {"NestedProsodyMultiplies",
     "<prosody rate=\"150%\" volume=\"50%\"><prosody rate=\"200%\" volume=\"-6dB\" "
     "pitch=\"+50%\">x</prosody></prosody>",
     {3.0, 1.5, 0.25059}},
    {"NamedValueReplacesTheEnclosing",
     "<prosody rate=\"50%\"><prosody rate=\"x-fast\">x</prosody></prosody>",
     {2.0, 1, 1}},
    {"EachLevelIsClamped",
     "<prosody rate=\"400%\"><prosody rate=\"400%\"><prosody rate=\"50%\">x"
     "</prosody></prosody></prosody>",
     {2.0, 1, 1}},
    {"EmphasisStrong", "<emphasis level=\"strong\">x</emphasis>", {0.9, 1.1, 1.4}},
    {"EmphasisModerate", "<emphasis level=\"moderate\">x</emphasis>", {0.95, 1.05, 1.2}},
    {"EmphasisAloneIsModerate", "<emphasis>x</emphasis>", {0.95, 1.05, 1.2}},
    {"EmphasisNone", "<emphasis level=\"none\">x</emphasis>", {1, 1, 1}},
    {"EmphasisReduced", "<emphasis level=\"reduced\">x</emphasis>", {1.05, 0.95, 0.8}},
    {"EmphasisInsideProsody",
     "<prosody rate=\"200%\"><emphasis level=\"strong\">x</emphasis></prosody>",
     {1.8, 1.1, 1.4}},
};

INSTANTIATE_TEST_SUITE_P(Ssml, SsmlProsody, ::testing::ValuesIn(prosodyCases),
                         [](const auto& info) { return info.param.name; });

struct FailureCase {
    std::string name;
    std::string document;
    std::string message; // what() begins with this
};

void PrintTo(const FailureCase& entry, std::ostream* out) {
    *out << entry.name;
}

class SsmlFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SsmlFailure, NamesTheLineAndColumn) {
    try {
        readSsml(GetParam().document, source);
        FAIL() << "no error";
    } catch (const SpeechError& error) {
        EXPECT_EQ(std::string(error.what()).substr(0, GetParam().message.size()),
                  GetParam().message)
            << error.what();
    }
}

const FailureCase failureCases[] = {
    {"TagMismatch", "<speak>\n<p>text</speak>",
     "doc.ssml:2:16: Opening and ending tag mismatch: p line 2 and speak"},
    {"UnclosedDocument", "<speak>\n  <p>text", "doc.ssml:2:"},
    {"NotXml", "just text", "doc.ssml:1:1: Start tag expected"},
    {"Empty", " \n", "doc.ssml:1:1: the document is empty"},
    {"NulByte", "<speak>a\0b</speak>"s, "doc.ssml:1:"},
    {"UndeclaredEntity", "<speak>a&nbsp;b</speak>", "doc.ssml:1:15: Entity 'nbsp' not defined"},
    {"RootIsNotSpeak", "<html>\n<p>x</p></html>",
     "doc.ssml:1:1: the root element is <html>, not <speak>"},
    {"MalformedRate", "<speak>\n  <prosody rate=\"fast!!\">x</prosody></speak>",
     "doc.ssml:2:3: malformed rate \"fast!!\" of <prosody>"},
    {"MalformedPitchInHertz", "<speak><prosody pitch=\"200Hz\">x</prosody></speak>",
     "doc.ssml:1:8: malformed pitch \"200Hz\""},
    {"MalformedVolume", "<speak><prosody volume=\"loudest\">x</prosody></speak>",
     "doc.ssml:1:8: malformed volume \"loudest\""},
    {"NotANumber", "<speak><prosody rate=\"nan%\">x</prosody></speak>",
     "doc.ssml:1:8: malformed rate"},
    {"MalformedTime", "<speak>a\n \xC3\xA9 <break time=\"abc\"/></speak>",
     "doc.ssml:2:4: malformed time \"abc\" of <break>"},
    {"TagOverSeveralLines", "<speak>\n  <prosody\n    rate=\"x\">x</prosody></speak>",
     "doc.ssml:2:3: malformed rate"},
    {"PlaceInAnotherEncoding",
     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<speak>caf\xE9 <break time=\"x\"/></speak>",
     "doc.ssml:2:13: malformed time"},
    {"NegativeTime", "<speak><break time=\"-5s\"/></speak>", "doc.ssml:1:8: malformed time"},
    {"TimeWithoutUnit", "<speak><break time=\"5\"/></speak>", "doc.ssml:1:8: malformed time"},
    {"TimeBeyondAnHour", "<speak><break time=\"3601s\"/></speak>",
     "doc.ssml:1:8: break time \"3601s\" is longer than an hour"},
    {"MalformedStrength", "<speak><break strength=\"loud\"/></speak>",
     "doc.ssml:1:8: malformed strength"},
    {"MalformedEmphasis", "<speak><emphasis level=\"extreme\">x</emphasis></speak>",
     "doc.ssml:1:8: malformed level"},
    {"SubWithoutAlias", "<speak><sub>x</sub></speak>", "doc.ssml:1:8: <sub> has no alias"},
    {"MarkWithoutName", "<speak><mark/></speak>", "doc.ssml:1:8: <mark> has no name"},
    {"InternalEntityIsRefused", "<!DOCTYPE speak [\n<!ENTITY y \"boom\">]><speak>&y;</speak>",
     "doc.ssml:2:"},
};

INSTANTIATE_TEST_SUITE_P(Ssml, SsmlFailure, ::testing::ValuesIn(failureCases),
                         [](const auto& info) { return info.param.name; });

// Each run's language (after '/'), and '~' where no white space parts it from the run before.
TEST(SsmlReader, GivesEachRunTheLanguageOfItsMarkup) {
    const SpeechScript script =
        readSsml("<speak xml:lang=\"en\">A <p xml:lang=\"de\">B<s xml:lang=\"fr\">C</s>"
                 "<voice name=\"slt\">D <lang xml:lang=\"it\">E</lang></voice> "
                 "<voice xml:lang=\"pt-BR\">F</voice><emphasis xml:lang=\"ja\">G</emphasis></p>"
                 "H <lang xml:lang=\"\">I</lang> im<emphasis>port</emphasis>ant</speak>",
                 source);
    std::string runs;
    for (const SpeechItem& item : script)
        if (const auto* run = std::get_if<SpeechRun>(&item))
            runs += (run->spaceBefore ? " " : "~") + run->text + "/" + run->language;
    EXPECT_EQ(runs, "~A/en B/de~C/fr~D/ E/it F/pt-BR~G/de~H/en I/ im/en~port/en~ant/en");
}

TEST(SsmlReader, WarnsOnceForEachUnknownElementAndReadsItsText) {
    std::vector<std::string> warnings;
    const std::string document = "<speak><foo>a</foo> <foo>b</foo>\n \xC3\xA9 <bar:baz "
                                 "xmlns:bar=\"urn:x\">c</bar:baz> <audio src=\"x.wav\">d</audio>"
                                 "</speak>";
    const SpeechScript script = readSsml(
        document, source, [&](const std::string& message) { warnings.push_back(message); });
    EXPECT_EQ(describe(script), "a b \xC3\xA9 c d");
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "doc.ssml:1:8: unknown element <foo> is read as its text",
                            "doc.ssml:2:4: unknown element <bar:baz> is read as its text",
                            "doc.ssml:2:43: unknown element <audio> is read as its text"}));
}

// A document of thousands of unknown elements is told of five, then of the number of the rest.
TEST(SsmlReader, TellsAFewUnknownElementsAndCountsTheRest) {
    std::string document = "<speak>";
    for (int i = 0; i < 3000; ++i)
        document += "<e" + std::to_string(i) + ">w</e" + std::to_string(i) + ">";
    std::vector<std::string> warnings;
    readSsml(document + "</speak>", source,
             [&](const std::string& message) { warnings.push_back(message); });
    ASSERT_EQ(warnings.size(), 6u);
    EXPECT_EQ(warnings[4], "doc.ssml:1:48: unknown element <e4> is read as its text");
    EXPECT_EQ(warnings[5], "doc.ssml: 2995 more unknown elements are read as their text");
}
} // namespace
} // namespace kestrova::speech
