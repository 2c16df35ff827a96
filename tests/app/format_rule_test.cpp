#include "app/format_rule.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrova::app {
namespace {

struct RuleCase {
    std::string engineName;
    int expectedCode;
};

void PrintTo(const RuleCase& rule, std::ostream* out) {
    *out << '"' << rule.engineName << "\" -> " << rule.expectedCode;
}

class FormatRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(FormatRule, ChoosesTheRateTheEngineWasBuiltFor) {
    EXPECT_EQ(formatCodeForEngine(GetParam().engineName), GetParam().expectedCode);
}

// "16" and "ATT" anywhere, in any letter case, give 16 kHz.
INSTANTIATE_TEST_SUITE_P(BothMarks, FormatRule,
                         ::testing::Values(RuleCase{"att16", 18}, RuleCase{"My ATT voice 16k", 18},
                                           RuleCase{"16ATT", 18}, RuleCase{"AtT 16", 18},
                                           RuleCase{"ATT DTNV1.4 Crystal16", 18},
                                           RuleCase{"x16yattz", 18},
                                           RuleCase{"VW Kate ATT16", 18}));

INSTANTIATE_TEST_SUITE_P(OneMarkOnly, FormatRule,
                         ::testing::Values(RuleCase{"AT&T 16k", 22}, RuleCase{"ATT", 22},
                                           RuleCase{"16", 22}, RuleCase{"Flite kal16", 22},
                                           RuleCase{"VW KATE16", 22}, RuleCase{"AT T 16", 22},
                                           RuleCase{"1 6 ATT", 22}, RuleCase{"ATT1x6", 22},
                                           RuleCase{"Microsoft Anna", 22}));

// Exactly "VW KATE" or "VW PAUL", in any letter case, untrimmed.
INSTANTIATE_TEST_SUITE_P(VoiceWareNames, FormatRule,
                         ::testing::Values(RuleCase{"VW KATE", 18}, RuleCase{"vw paul", 18},
                                           RuleCase{"Vw Kate", 18}, RuleCase{"VW PAUL", 18},
                                           RuleCase{"vW pAuL", 18}, RuleCase{"VW  KATE", 22},
                                           RuleCase{" VW KATE", 22}, RuleCase{"VW KATE ", 22},
                                           RuleCase{"VW KATE\t", 22}, RuleCase{"VWKATE", 22},
                                           RuleCase{"VW JULIE", 22},
                                           RuleCase{"NeoSpeech VW Kate", 22}));

INSTANTIATE_TEST_SUITE_P(EveryOther, FormatRule,
                         ::testing::Values(RuleCase{"", 22}, RuleCase{"Flite slt", 22},
                                           RuleCase{"eSpeak NG English (America)", 22},
                                           RuleCase{"en-us", 22}));

TEST(FormatRuleCodes, AreTheSixteenAndTwentyTwoKilohertzMonoCodes) {
    EXPECT_EQ(format16kHz16BitMono, 18);
    EXPECT_EQ(format22kHz16BitMono, 22);
}

} // namespace
} // namespace kestrova::app
