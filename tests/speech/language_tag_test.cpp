// Whether two language tags name one language, as the readers' runs and the voices compare them.

#include "speech/base/language_tag.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrova::speech {
namespace {

struct TagPair {
    const char* a;
    const char* b;
    bool same;
};

void PrintTo(const TagPair& pair, std::ostream* out) {
    *out << '"' << pair.a << "\" and \"" << pair.b << '"';
}

class SameLanguage : public ::testing::TestWithParam<TagPair> {};

TEST_P(SameLanguage, ComparesTheLanguageEitherWayRound) {
    EXPECT_EQ(sameLanguage(GetParam().a, GetParam().b), GetParam().same);
    EXPECT_EQ(sameLanguage(GetParam().b, GetParam().a), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, SameLanguage,
    ::testing::Values(TagPair{"de-AT", "DE", true}, TagPair{"pt_BR", "PT-pt", true},
                      TagPair{"en-Latn-GB", "en_us", true}, TagPair{"sr-Latn", "sr-Cyrl", true},
                      TagPair{"zh-Hant_TW", "cmn", true}, TagPair{"ZH", "cmn-Latn-pinyin", true},
                      TagPair{"no", "nb-NO", true}, TagPair{"iw", "he", true},
                      TagPair{"zh-yue", "yue", true}, TagPair{"zh-yue", "zh", false},
                      TagPair{"en", "enx", false}, TagPair{"de", "da", false},
                      TagPair{"x-klingon", "X-Klingon", true}, TagPair{"x-klingon", "en", false},
                      TagPair{"", "en", false}, TagPair{"en us", "en", false}));

} // namespace
} // namespace kestrova::speech
