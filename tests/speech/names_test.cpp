#include "speech/base/clean_text.h"
#include "speech/quoted_name.h"
#include "speech/text/lexicon/case_folder.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrova::speech {
namespace {

using namespace std::string_literals;

struct QuoteCase {
    std::string name;
    std::string shown;
};

class QuotedName : public ::testing::TestWithParam<QuoteCase> {};

// Printable names keep their plain double quotes; the rest are quoted as the shell reads
// them back, like ls --quoting-style=shell-escape.
TEST_P(QuotedName, QuotesAsTheShellReadsItBack) {
    EXPECT_EQ(quotedName(GetParam().name), GetParam().shown);
    EXPECT_EQ(isPlainName(GetParam().name), GetParam().shown.starts_with('"'));
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuotedName,
    ::testing::Values(QuoteCase{"notes.wav", "\"notes.wav\""}, QuoteCase{"", "\"\""},
                      QuoteCase{"/tmp/a b/it's \"x\".wav", "\"/tmp/a b/it's \"x\".wav\""},
                      QuoteCase{"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
                                "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
                      QuoteCase{"a\nb", "'a'$'\\n''b'"}, QuoteCase{"\n", "$'\\n'"},
                      QuoteCase{"it's\x1B[2Jx", "'it'\\''s'$'\\033''[2Jx'"},
                      QuoteCase{"tab\there\r", "'tab'$'\\t''here'$'\\r'"},
                      QuoteCase{"nul\0x"s, "'nul'$'\\000''x'"},
                      QuoteCase{"del\x7F", "'del'$'\\177'"},
                      QuoteCase{"c1\xC2\x85", "'c1'$'\\302\\205'"},
                      QuoteCase{"caf\xE9.txt", "'caf'$'\\351''.txt'"},
                      QuoteCase{"cut\xE2\x82", "'cut'$'\\342\\202'"},
                      QuoteCase{"overlong\xC0\xAF", "'overlong'$'\\300\\257'"},
                      QuoteCase{"surrogate\xED\xA0\x80", "'surrogate'$'\\355\\240\\200'"},
                      QuoteCase{"rtl\xE2\x80\xAEtxt.exe", "'rtl'$'\\342\\200\\256''txt.exe'"}));

// What every reader makes of a document's title, author or chapter name: one line, in the order
// it is written, however the document tries to drive the terminal or turn the text around.
TEST(CleanText, MakesGapsOfControlsAndLeavesOutDirectionControls) {
    const std::pair<std::string, std::string> cases[] = {
        {"  A\tB\n\nC  ", "A B C"},
        {"Caf\xC3\xA9\xC2\x85No\xC3\xABl", "Caf\xC3\xA9 No\xC3\xABl"}, // NEL
        {"x\xC2\x9B"
         "2Jy\x1B]0;owned\x07",
         "x 2Jy ]0;owned"}, // CSI, ESC, BEL
        {"del\x7F"
         "end\xC2\x80",
         "del end"},
        {"\xE2\x80\xAE"
         "evil\xE2\x80\xAC \xE2\x81\xA6"
         "ok\xE2\x81\xA9",
         "evil ok"},
        {"a\xE2\x80\xA8"
         "b\xE2\x80\xA9"
         "c",
         "a b c"},
        {"bad\xFF"
         "byte\xE2\x82",
         "bad\xEF\xBF\xBD"
         "byte\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"keeps\xC2\xA0no-break \xE2\x80\x8F"
         "marks",
         "keeps\xC2\xA0no-break \xE2\x80\x8F"
         "marks"},
        {"nul\0inside"s, "nul inside"},
        {"\xC2\x85\xE2\x80\xAE", ""}};
    for (const auto& [text, cleaned] : cases) {
        EXPECT_EQ(cleanText(text), cleaned) << quotedName(text);
        EXPECT_EQ(cleanText(cleaned), cleaned) << quotedName(text); // cleaning again: no change
    }
}

// Where a message has always shown a value bare, it stays bare when it can; otherwise it is
// quoted, and cut, as values are.
TEST(QuotedValue, ShowsPlainShortValuesBareAndTheRestQuotedAndCut) {
    EXPECT_EQ(shownValue("en-GB"), "en-GB");
    EXPECT_EQ(shownValue("en\x1B[2J"), "'en'$'\\033''[2J'");
    const std::string shown = shownValue(std::string(10000, 'x'));
    EXPECT_EQ(shown, "\"" + std::string(40, 'x') + "..." + std::string(40, 'x') + "\"");
}

struct FoldCase {
    std::string a;
    std::string b;
    bool equal;
};

class FoldedCase : public ::testing::TestWithParam<FoldCase> {};

TEST_P(FoldedCase, ComparesInAnyLetterCase) {
    CaseFolder folder;
    EXPECT_EQ(folder.equal(GetParam().a, GetParam().b), GetParam().equal);
    EXPECT_EQ(folder.equal(GetParam().b, GetParam().a), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(Table, FoldedCase,
                         ::testing::Values(FoldCase{"Flite SLT", "flite slt", true},
                                           FoldCase{"eSpeak NG Māori", "ESPEAK NG MĀORI", true},
                                           FoldCase{"Ελληνικά", "ΕΛΛΗΝΙΚΆ", true},
                                           FoldCase{"ΟΔΟΣ", "οδος", true}, // final sigma
                                           FoldCase{"Čeština", "ČEŠTINA", true},
                                           FoldCase{"Русский", "РУССКИЙ", true},
                                           FoldCase{"Māori", "Maori", false},
                                           FoldCase{"a", "b", false}, FoldCase{"ab", "a", false},
                                           // No UTF-8: equal only to itself.
                                           FoldCase{"\xC4", "\xC4", true},
                                           FoldCase{"\xC4", "\xE4", false},
                                           FoldCase{"x\xC4", "X\xC4", false}));

} // namespace
} // namespace kestrova::speech
