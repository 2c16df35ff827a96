#include "speech/quoted_name.h"
#include "speech/text/case_folder.h"

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
