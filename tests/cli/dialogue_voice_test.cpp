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

} // namespace kestrova::cli::dialogue_voice_test
