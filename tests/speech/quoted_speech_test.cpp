// The quoted speech of a paragraph, as each language marks it: what a dialogue voice reads.

#include "speech/text/dialogue/quoted_speech.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace quoted_speech_test {

struct QuoteCase {
    std::string name;
    std::string language;
    std::string paragraph;
    std::vector<std::string> spoken; // each span's text, in order
};

std::vector<std::string> spokenOf(const std::string& paragraph, const std::string& language) {
    std::vector<std::string> spoken;
    for (const DialogueSpan& span : dialogueSpans(paragraph, language)) {
        EXPECT_LE(span.begin, span.end);
        EXPECT_LE(span.end, paragraph.size());
        spoken.push_back(paragraph.substr(span.begin, span.end - span.begin));
    }
    return spoken;
}

const std::vector<QuoteCase> quoteCases{
    {"CurlyDoubleQuotes",
     "en",
     "\u201CHello,\u201D she said, \u201Ccome in.\u201D",
     {"\u201CHello,\u201D", "\u201Ccome in.\u201D"}},
    {"StraightQuotesPairInOrder",
     "en-US",
     "\"One,\" he said. \"Two.\" Three \"four\"",
     {"\"One,\"", "\"Two.\"", "\"four\""}},
    {"ApostrophesAreNoQuotes", "en", "I don't know; the Smiths' house.", {}},
    {"ElisionIsNoQuote", "en", "And 'tis late.", {}},
    {"ElisionAndPluralApostropheDoNotPair", "en", "And 'tis late, said the Smiths' son.", {}},
    {"RockNRollIsNoQuote", "en", "Rock 'n' roll, rock n' roll and \u2018n\u2019 again.", {}},
    {"RockNRollInsideAQuote",
     "en",
     "'I like rock 'n' roll,' he said.",
     {"'I like rock 'n' roll,'"}},
    {"PluralApostropheInsideAQuote",
     "en",
     "'I met the Smiths' son,' she said.",
     {"'I met the Smiths' son,'"}},
    {"QuoteEndingInSClosesWhereNoOtherMarkDoes",
     "en",
     "'Come with us' she said. 'Now,' he said.",
     {"'Come with us'", "'Now,'"}},
    {"SingleQuotesAmongApostrophes",
     "en-GB",
     "\u2018I don\u2019t mind,\u2019 said the Smiths\u2019 son. 'It's late,' she said.",
     {"\u2018I don\u2019t mind,\u2019", "'It's late,'"}},
    {"SingleQuoteNeverClosedIsNone", "en", "He said 'maybe and went home.", {}},
    {"DoubleQuoteLeftOpenEndsWithTheParagraph",
     "en",
     "Narration. \"It runs on, and on",
     {"\"It runs on, and on"}},
    {"ContinuedQuotationOpensAgain",
     "en",
     "\u201Cand ends here.\u201D Then narration.",
     {"\u201Cand ends here.\u201D"}},
    {"FrenchGuillemetsWithSpaces",
     "fr",
     "\u00AB\u00A0Bonjour\u00A0\u00BB, dit-elle. \u00AB Entrez \u00BB",
     {"\u00AB\u00A0Bonjour\u00A0\u00BB", "\u00AB Entrez \u00BB"}},
    {"FrenchDashParagraphInciseToItsEnd",
     "fr-FR",
     "\u2014 Je viens, dit Paul.",
     {"\u2014 Je viens,"}},
    {"FrenchDashParagraphHyphenatedIncise", "fr", "\u2014 Oui, dit-elle.", {"\u2014 Oui,"}},
    {"FrenchInciseInsideGuillemets",
     "fr",
     "\u00AB\u00A0\u2014 Je viens, dit-il.\u00A0\u00BB",
     {"\u00AB\u00A0\u2014 Je viens,"}},
    {"FrenchInciseThenTheSpeechGoesOn",
     "fr",
     "\u00AB Je viens, dit-il, tout de suite. \u00BB Il partit.",
     {"\u00AB Je viens,", "tout de suite. \u00BB"}},
    {"FrenchInciseAfterAQuestion",
     "fr",
     "\u2014 Tu viens\u00A0? demanda-t-elle. Il est tard.",
     {"\u2014 Tu viens\u00A0?", "Il est tard."}},
    {"FrenchElidedVerbIncise",
     "fr",
     "\u00AB Attends, s\u2019\u00E9cria Marie, attends-moi ! \u00BB",
     {"\u00AB Attends,", "attends-moi ! \u00BB"}},
    {"FrenchInciseOfAVerbOfMumblingAndANounSubject",
     "fr",
     "\u00AB Assez, grommela le vieux marin, assez. \u00BB",
     {"\u00AB Assez,", "assez. \u00BB"}},
    {"FrenchInvertedQuestionIsNoIncise",
     "fr",
     "\u00AB Alors, puis-je entrer\u00A0? \u00BB",
     {"\u00AB Alors, puis-je entrer\u00A0? \u00BB"}},
    {"SpanishDashesSetNarrationApart",
     "es",
     "\u2014Ya voy \u2014dijo Juan\u2014. Espera.",
     {"\u2014Ya voy", "Espera."}},
    {"SpanishDashNarrationToTheEnd", "es", "\u2014No \u2014respondi\u00F3 ella.", {"\u2014No"}},
    {"EnDashWithSpaceOpensDialogue",
     "ru",
     "\u2013 \u0414\u0430, \u2013 \u0441\u043A\u0430\u0437\u0430\u043B \u043E\u043D.",
     {"\u2013 \u0414\u0430,"}},
    // "– Москва – столица, – сказал он. – Пойдём.": the dash after a word stays in the speech.
    {"RussianSpacedDashIncise",
     "ru",
     "\u2013 \u041C\u043E\u0441\u043A\u0432\u0430 \u2013 "
     "\u0441\u0442\u043E\u043B\u0438\u0446\u0430, "
     "\u2013 \u0441\u043A\u0430\u0437\u0430\u043B \u043E\u043D. \u2013 "
     "\u041F\u043E\u0439\u0434\u0451\u043C.",
     {"\u2013 \u041C\u043E\u0441\u043A\u0432\u0430 \u2013 "
      "\u0441\u0442\u043E\u043B\u0438\u0446\u0430,",
      "\u041F\u043E\u0439\u0434\u0451\u043C."}},
    {"DashInsideEnglishIsNoDialogue", "en", "\u2014Not here, he thought.", {}},
    {"DashAfterTextIsNoDialogue", "es", "Juan \u2014dijo\u2014 nada.", {}},
    {"RussianGuillemetsAndLowQuotes",
     "ru",
     "\u00AB\u0418\u0434\u0438\u00BB, \u2014 \u043D\u0435\u0442. \u201E\u0414\u0430\u201C",
     {"\u00AB\u0418\u0434\u0438\u00BB", "\u201E\u0414\u0430\u201C"}},
    {"GermanLowAndReversedGuillemets",
     "de-DE",
     "\u201EKomm her\u201C, rief sie. \u00BBJetzt!\u00AB",
     {"\u201EKomm her\u201C", "\u00BBJetzt!\u00AB"}},
    {"GermanHighQuoteClosesNotOpens", "de", "Er sagte \u201Cnichts\u201D.", {}},
    {"PolishLowAndHighQuotes",
     "pl",
     "\u201ETak\u201D \u2014 powiedzia\u0142.",
     {"\u201ETak\u201D"}},
    {"JapaneseCornerBrackets",
     "ja",
     "\u300C\u306F\u3044\u300D\u3068\u8A00\u3063\u305F\u3002\u300E\u672C\u300F",
     {"\u300C\u306F\u3044\u300D", "\u300E\u672C\u300F"}},
    {"ChineseCornerBrackets",
     "zh-Hans",
     "\u4ED6\u8BF4\uFF1A\u300C\u4F60\u597D\u300D",
     {"\u300C\u4F60\u597D\u300D"}},
    {"NestedQuotesStayInsideTheOuter",
     "en",
     "\u201CShe said \u2018no\u2019 to me,\u201D he said.",
     {"\u201CShe said \u2018no\u2019 to me,\u201D"}},
    {"NoQuotesNoSpans", "it", "Una frase senza dialogo.", {}},
};

class QuotedSpeech : public testing::TestWithParam<QuoteCase> {};

TEST_P(QuotedSpeech, FindsWhatIsSaid) {
    EXPECT_EQ(spokenOf(GetParam().paragraph, GetParam().language), GetParam().spoken);
}

INSTANTIATE_TEST_SUITE_P(Languages, QuotedSpeech, testing::ValuesIn(quoteCases),
                         [](const auto& info) { return info.param.name; });

// Text that is not UTF-8 or holds marks alone is read without going past its end.
TEST(QuotedSpeechEdges, MarksAloneAndBrokenTextStayInside) {
    EXPECT_EQ(spokenOf("\"", "en"), std::vector<std::string>{"\""});
    EXPECT_EQ(spokenOf("\u2014", "es"), std::vector<std::string>{"\u2014"});
    EXPECT_TRUE(spokenOf("'", "en").empty());
    EXPECT_EQ(spokenOf("\"\xC3", "en").size(), 1u);
    EXPECT_TRUE(spokenOf("", "fr").empty());
}

} // namespace quoted_speech_test
} // namespace kestrova::speech
