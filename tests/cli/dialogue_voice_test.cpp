// Dialogue read by a second voice, read back through the timings: which voice spoke which words.

#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::cli::dialogue_voice_test {

using test::Outcome;
namespace fs = std::filesystem;

// Each part of each sentence of a timings file as "voice|text", read by Python's JSON parser.
std::vector<std::string> spokenParts(const fs::path& json) {
    return test::pythonLines(
        "import json, sys\n"
        "for s in json.load(open(sys.argv[1], encoding='utf-8'))['sentences']:\n"
        "    for p in s.get('parts', []): print(p['voice'] + '|' + p['text'])",
        json);
}

struct DialogueCase {
    const char* narrator;
    const char* text;
    std::vector<std::string> parts; // every part of the sentences with dialogue, in order
};

class DialogueVoice : public ::testing::TestWithParam<DialogueCase> {};

// The quotes of each language go to the dialogue voice and the narration between them to the
// narrator; apostrophes and a quotation continued over paragraphs are told from quotes.
TEST_P(DialogueVoice, QuotedSpeechIsReadByTheSecondVoice) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", GetParam().text);
    const Outcome run =
        test::runProgram(KESTROVA_CLI_PATH,
                         {"convert", "-q", "-e", GetParam().narrator, "--dialogue-voice", "slt",
                          "--timings", "in.json", "-o", "out.wav", "in.txt"},
                         scratch.path());
    ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
    EXPECT_EQ(spokenParts(scratch / "in.json"), GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, DialogueVoice,
    ::testing::Values(
        DialogueCase{"es",
                     "—Ya voy —dijo Juan—. Espera.\n\nLa casa estaba vacía.\n",
                     {"slt|—Ya voy", "es|—dijo Juan—.", "slt|Espera."}},
        DialogueCase{
            "de",
            "Er rief: „Ich komme gleich.“ Dann ging er. »Wohin?«, fragte sie.\n",
            {"slt|„Ich komme gleich.“", "de|Dann ging er.", "slt|»Wohin?«,", "de|fragte sie."}},
        DialogueCase{"fr-fr",
                     "Elle partit. « Je viens tout de suite », dit Marie.\n",
                     {"slt|« Je viens tout de suite »,", "fr-fr|dit Marie."}},
        DialogueCase{"en-us",
                     "“Hello there,” said Anna. The Smiths' house was dark, and she didn't go "
                     "in.\n\n“It was a long night.\n\n“And then the morning came,” she said.\n",
                     {"slt|“Hello there,”", "en-us|said Anna.", "slt|“It was a long night.",
                      "slt|“And then the morning came,”", "en-us|she said."}}));

// Each voice span of a WebVTT file as "voice|text", its character references read by
// Python's html module; a voiced line with anything but spaces outside its spans as "stray|".
std::vector<std::string> voiceSpans(const fs::path& vtt) {
    return test::pythonLines(
        "import html, re, sys\n"
        "span = re.compile(r'<v ([^>]*)>(.*?)</v>')\n"
        "for line in open(sys.argv[1], encoding='utf-8').read().splitlines():\n"
        "    if '<v ' in line and span.sub('', line).strip(): print('stray|' + line)\n"
        "    for m in span.finditer(line): print(html.unescape(m.group(1)) + '|' +\n"
        "                                      html.unescape(m.group(2)))",
        vtt);
}

// The cues' voice spans say what the timings say, part by part; ffmpeg's decoder shows the
// words with no markup left; and the sound is the same with one worker or two.
TEST(DialogueVoiceOutputs, SubtitlesNameTheVoicesAndWorkersChangeNoByte) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt",
                     "\u201CFish & chips,\u201D said Anna. The shop was shut.\n\n"
                     "\u201CTomorrow, then.\u201D\n\n"
                     "He nodded. \u201CTomorrow,\u201D he said, \u201Cat noon.\u201D\n");
    const auto convert = [&](const char* workers, const char* output) {
        return test::runProgram(KESTROVA_CLI_PATH,
                                {"convert", "-q", "-e", "en-us", "--dialogue-voice", "slt", "-j",
                                 workers, "--timings", "in.json", "--subtitles", "in.vtt", "-o",
                                 output, "in.txt"},
                                scratch.path());
    };
    const Outcome one = convert("1", "one.wav");
    ASSERT_EQ(one.exitStatus(), 0) << one.standardError;
    const std::vector<std::string> parts = spokenParts(scratch / "in.json");
    EXPECT_EQ(parts, (std::vector<std::string>{"slt|\u201CFish & chips,\u201D", "en-us|said Anna.",
                                               "slt|\u201CTomorrow, then.\u201D",
                                               "slt|\u201CTomorrow,\u201D", "en-us|he said,",
                                               "slt|\u201Cat noon.\u201D"}));
    EXPECT_EQ(voiceSpans(scratch / "in.vtt"), parts);
    const Outcome shown = test::runProgram(
        "/usr/bin/ffmpeg", {"-v", "error", "-i", "in.vtt", "-f", "srt", "-"}, scratch.path());
    ASSERT_EQ(shown.exitStatus(), 0) << shown.standardError;
    EXPECT_EQ(shown.standardOutput.find('<'), std::string::npos) << shown.standardOutput;
    EXPECT_NE(shown.standardOutput.find("\u201CFish & chips,\u201D said Anna."), std::string::npos)
        << shown.standardOutput;

    const Outcome two = convert("2", "two.wav");
    ASSERT_EQ(two.exitStatus(), 0) << two.standardError;
    EXPECT_EQ(test::readBytes(scratch / "one.wav"), test::readBytes(scratch / "two.wav"));
}

// EPUB and Word documents as pandoc writes them: their paragraphs' quotes read by the
// dialogue voice.
TEST(DialogueVoiceOutputs, EpubAndWordDocumentsGiveTheirQuotesToTheSecondVoice) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "book.md", "---\ntitle: Talk\nlang: en-US\n---\n\n# One\n\n"
                                          "\u201CCome in,\u201D said Anna. The door was open.\n");
    for (const char* input : {"book.epub", "book.docx"}) {
        SCOPED_TRACE(input);
        const Outcome made =
            test::runProgram("/usr/bin/pandoc", {"book.md", "-o", input}, scratch.path());
        ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
        const Outcome run = test::runProgram(KESTROVA_CLI_PATH,
                                             {"convert", "-q", "-e", "en-us", "--dialogue-voice",
                                              "slt", "--timings", "t.json", "-o", "t.wav", input},
                                             scratch.path());
        ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
        EXPECT_EQ(spokenParts(scratch / "t.json"),
                  (std::vector<std::string>{"slt|\u201CCome in,\u201D", "en-us|said Anna."}));
    }
}

} // namespace kestrova::cli::dialogue_voice_test
