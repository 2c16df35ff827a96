#include "speech/speech_error.h"
#include "speech/text/readers/ssml/ssml_reader.h"

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

using namespace std::string_literals;

const std::string source = "doc.ssml";

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// A script in one line: runs as their text (@voice, {rate,pitch,volume} where not the
// default), <S> <P> <NNNms> for breaks, #name for marks.
std::string describe(const SpeechScript& script) {
    std::string line;
    for (const SpeechItem& item : script) {
        if (!line.empty())
            line += " | ";
        if (const auto* run = std::get_if<SpeechRun>(&item)) {
            line += run->text;
            if (!run->voiceName.empty())
                line += "@" + run->voiceName;
            if (run->prosody != Prosody{})
                line += "{" + number(run->prosody.rate) + "," + number(run->prosody.pitch) + "," +
                        number(run->prosody.volume) + "}";
        } else if (const auto* pause = std::get_if<SpeechBreak>(&item)) {
            line += pause->kind == SpeechBreak::Kind::Sentence ? "<S>"
                    : pause->kind == SpeechBreak::Kind::Paragraph
                        ? "<P>"
                        : "<" + std::to_string(pause->milliseconds) + "ms>";
        } else {
            line += "#" + std::get<SpeechMark>(item).name;
        }
    }
    return line;
}

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

struct ProsodyCase {
    std::string name;
    std::string body; // holds one run
    Prosody prosody;
};

void PrintTo(const ProsodyCase& entry, std::ostream* out) {
    *out << entry.name;
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

ProsodyCase rate(std::string name, std::string value, double expected) {
    return {name, "<prosody rate=\"" + value + "\">x</prosody>", {expected, 1, 1}};
}
ProsodyCase pitch(std::string name, std::string value, double expected) {
    return {name, "<prosody pitch=\"" + value + "\">x</prosody>", {1, expected, 1}};
}
ProsodyCase volume(std::string name, std::string value, double expected) {
    return {name, "<prosody volume=\"" + value + "\">x</prosody>", {1, 1, expected}};
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

class SsmlEntities : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ =
            std::filesystem::path(::testing::TempDir()) / ("ssml-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
        secretFile_ = directory_ / "secret.txt";
        std::ofstream(secretFile_) << secret;
        std::ofstream(directory_ / "entities.dtd")
            << "<!ENTITY x SYSTEM \"file://" << secretFile_.string() << "\">\n";
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    // The document's script, or its error: the secret must be in neither.
    std::string outcome(const std::string& document) {
        try {
            return describe(readSsml(document, source));
        } catch (const SpeechError& error) {
            return error.what();
        }
    }

    static constexpr const char* secret = "TOP-SECRET-7f3a";
    std::filesystem::path directory_;
    std::filesystem::path secretFile_;
};

TEST_F(SsmlEntities, AFileEntityIsNeverRead) {
    const std::string url = "file://" + secretFile_.string();
    const std::string documents[] = {
        "<!DOCTYPE speak [<!ENTITY x SYSTEM \"" + url + "\">]><speak>&x;</speak>",
        "<!DOCTYPE speak [<!ENTITY x SYSTEM \"" + url +
            "\">]><speak><sub alias=\"&x;\">a</sub></speak>",
        "<!DOCTYPE speak [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><speak>a</speak>",
        "<!DOCTYPE speak SYSTEM \"file://" + (directory_ / "entities.dtd").string() +
            "\"><speak>&x;</speak>",
    };
    for (const std::string& document : documents) {
        const std::string result = outcome(document);
        EXPECT_EQ(result.find(secret), std::string::npos) << document;
        EXPECT_EQ(result.rfind("doc.ssml:1:", 0), 0u) << document << "\n" << result;
    }
}

TEST_F(SsmlEntities, AnInternalEntityIsRefusedWhereItIsDeclared) {
    EXPECT_EQ(outcome("<!DOCTYPE speak [<!ENTITY y \"boom\">]><speak>&y;</speak>"),
              "doc.ssml:1:35: entity \"y\" is declared; entities are not read");
}

std::string nested(int depth) {
    std::string document = "<speak>";
    for (int level = 1; level < depth; ++level)
        document += "<emphasis level=\"none\">";
    document += "deep";
    for (int level = 1; level < depth; ++level)
        document += "</emphasis>";
    return document + "</speak>";
}

TEST(SsmlReader, ReadsMarkupNestedToTheDeepestAllowed) {
    EXPECT_EQ(describe(readSsml(nested(ssmlMaxDepth), source)), "deep");
}

TEST(SsmlReader, RefusesMarkupNestedDeeper) {
    try {
        readSsml(nested(ssmlMaxDepth + 1), source);
        FAIL() << "no error";
    } catch (const SpeechError& error) {
        EXPECT_STREQ(error.what(),
                     "doc.ssml:1:5873: the markup is nested deeper than 256 elements");
    }
}

// A document of the given size: comments, then one word.
std::string documentOfSize(std::size_t size) {
    const std::string head = "<speak>";
    const std::string tail = "ok</speak>";
    std::string document = head;
    const std::string comment = "<!--" + std::string(4088, 'c') + "-->";
    while (document.size() + comment.size() + tail.size() <= size)
        document += comment;
    document.append(size - document.size() - tail.size(), ' ');
    return document + tail;
}

TEST(SsmlReader, ReadsADocumentOfTheLargestSize) {
    const std::string document = documentOfSize(ssmlMaxBytes);
    ASSERT_EQ(document.size(), ssmlMaxBytes);
    EXPECT_EQ(describe(readSsml(document, source)), "ok");
}

TEST(SsmlReader, RefusesALargerDocument) {
    EXPECT_THROW(
        {
            try {
                readSsml(documentOfSize(ssmlMaxBytes + 1), source);
            } catch (const SpeechError& error) {
                EXPECT_STREQ(error.what(), "doc.ssml: the SSML document is larger than 64 MiB");
                throw;
            }
        },
        SpeechError);
}

// The document in another encoding as Python's codecs write it: an oracle apart from libxml2.
std::string encodedByPython(const std::string& utf8, const std::string& codec) {
    const std::filesystem::path directory =
        std::filesystem::path(::testing::TempDir()) / ("ssml-codec-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    std::ofstream(directory / "in", std::ios::binary) << utf8;
    const std::string command =
        "python3 -c 'import sys; open(sys.argv[2], \"wb\").write(open(sys.argv[1], "
        "encoding=\"utf-8\").read().encode(sys.argv[3]))' '" +
        (directory / "in").string() + "' '" + (directory / "out").string() + "' " + codec;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(directory / "out", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(directory);
    return bytes;
}

struct EncodingCase {
    std::string name;
    std::string codec;       // Python's name of the encoding
    std::string declaration; // empty: none
    std::string text;
};

void PrintTo(const EncodingCase& entry, std::ostream* out) {
    *out << entry.name;
}

class SsmlEncoding : public ::testing::TestWithParam<EncodingCase> {};

// Decoded once, as its mark or declaration says: the same script as the document in UTF-8.
TEST_P(SsmlEncoding, ReadsAsTheSameDocumentInUtf8) {
    const EncodingCase& c = GetParam();
    const std::string head =
        c.declaration.empty() ? "" : "<?xml version=\"1.0\" encoding=\"" + c.declaration + "\"?>\n";
    const std::string document = head + "<speak>\n<p>" + c.text + "</p>\n</speak>\n";
    const std::string encoded = encodedByPython(document, c.codec);
    ASSERT_NE(encoded, document);
    const std::string inUtf8 = describe(readSsml("<speak>" + c.text + "</speak>", source));
    EXPECT_EQ(inUtf8, c.text);
    EXPECT_EQ(describe(readSsml(encoded, source)), inUtf8);
}

const EncodingCase encodingCases[] = {
    {"Latin1Declared", "latin-1", "ISO-8859-1",
     "Caf\xC3\xA9 na\xC3\xAFve, fa\xC3\xA7"
     "ade."},
    {"Windows1252Declared", "cp1252", "windows-1252",
     "Caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\x93 5 \xE2\x82\xAC."},
    {"ShiftJisDeclared", "shift_jis", "Shift_JIS",
     "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87\xE7\xAB\xA0\xE3\x80\x82"},
    {"Utf16WithMark", "utf-16", "", "Caf\xC3\xA9 \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC."},
    {"Utf16WithMarkDeclared", "utf-16", "UTF-16", "Caf\xC3\xA9 \xE2\x82\xAC."},
    {"Utf16LittleEndianDeclared", "utf-16-le", "UTF-16LE", "Caf\xC3\xA9 \xE2\x82\xAC."},
    {"Utf16BigEndianDeclared", "utf-16-be", "UTF-16BE", "Caf\xC3\xA9 \xE2\x82\xAC."},
    {"Utf8WithMark", "utf-8-sig", "", "Caf\xC3\xA9 \xE2\x82\xAC."},
};

INSTANTIATE_TEST_SUITE_P(Ssml, SsmlEncoding, ::testing::ValuesIn(encodingCases),
                         [](const auto& info) { return info.param.name; });

TEST(SsmlReader, AnEncodingGivenWinsAndUndeclaredWindows1252IsReadAsPlainTextIs) {
    const std::string undeclared = "<speak>caf\xE9</speak>";
    EXPECT_EQ(ssmlEncoding(undeclared, TextEncoding::Windows1252), TextEncoding::Windows1252);
    EXPECT_EQ(describe(readSsml(undeclared, source, {}, TextEncoding::Windows1252)), "caf\xC3\xA9");
    const std::string declared = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><speak/>";
    EXPECT_EQ(ssmlEncoding(declared, TextEncoding::Windows1252), TextEncoding::Automatic);
    EXPECT_EQ(ssmlEncoding(declared, TextEncoding::Utf8), TextEncoding::Automatic);
}

std::string failureOf(const std::string& document) {
    try {
        readSsml(document, source);
    } catch (const SpeechError& error) {
        return error.what();
    }
    return "no error";
}

// A value from the document is quoted on one line and cut when long; libxml2's limits are
// said in our words.
TEST(SsmlReader, MessagesShowValuesQuotedOnOneLineAndCut) {
    EXPECT_EQ(failureOf("<speak><break time=\"&#10;kestrova-wav-cli: all good&#10;\"/></speak>"),
              "doc.ssml:1:8: malformed time $'\\n''kestrova-wav-cli: all good'$'\\n' of <break>");
    EXPECT_EQ(failureOf("<speak><prosody rate=\"&#13;x\">y</prosody></speak>"),
              "doc.ssml:1:8: malformed rate $'\\r''x' of <prosody>");
    const std::string huge =
        failureOf("<speak><break time=\"" + std::string(1 << 20, '9') + "x\"/></speak>");
    EXPECT_EQ(huge, "doc.ssml:1:8: malformed time \"" + std::string(40, '9') + "..." +
                        std::string(39, '9') + "x\" of <break>");
    EXPECT_EQ(failureOf("<" + std::string(1000, 'q') + "/>"),
              "doc.ssml:1:1: the root element is <" + std::string(40, 'q') + "..." +
                  std::string(40, 'q') + ">, not <speak>");
    const std::string deep = failureOf(nested(2000));
    EXPECT_EQ(deep.find("XML_PARSE_HUGE"), std::string::npos) << deep;
    EXPECT_NE(deep.find("nested deeper"), std::string::npos) << deep;
    const std::string longText = failureOf("<speak>" + std::string(11'000'000, 'a') + "<</speak>");
    EXPECT_EQ(longText.find("XML_PARSE_HUGE"), std::string::npos) << longText;
    EXPECT_LT(longText.size(), 300u);
}

TEST(SsmlReader, RefusesMoreThanAMillionRunsBreaksAndMarks) {
    std::string document = "<speak>";
    for (std::size_t sentence = 0; sentence < ssmlMaxItems / 2; ++sentence)
        document += "<s>a</s>";
    EXPECT_EQ(readSsml(document + "</speak>", source).size(), ssmlMaxItems - 1);
    EXPECT_EQ(failureOf(document + "<s>a</s><s>b</s></speak>"),
              "doc.ssml:1:4000016: the markup makes more than 1000000 runs, breaks and marks");
}

// Breaks add up in 64 bits to at most 24 hours a document: 1193 hours and 168296 ms would
// wrap a 32-bit count of milliseconds to 1.9 s.
TEST(SsmlReader, RefusesBreaksAddingUpToMoreThanADay) {
    std::string day = "<speak>";
    for (int hour = 0; hour < 24; ++hour)
        day += "<break time=\"3600s\"/>";
    EXPECT_EQ(readSsml(day + "</speak>", source).size(), 24u);
    EXPECT_EQ(failureOf(day + "<break time=\"1ms\"/></speak>"),
              "doc.ssml:1:512: the breaks add up to more than 24 hours of silence");
    std::string wrapping = "<speak>";
    for (int hour = 0; hour < 1193; ++hour)
        wrapping += "<break time=\"3600s\"/>";
    EXPECT_EQ(failureOf(wrapping + "<break time=\"168296ms\"/></speak>"),
              "doc.ssml:1:512: the breaks add up to more than 24 hours of silence");
}

} // namespace
} // namespace kestrova::speech
