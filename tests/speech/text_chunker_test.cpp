#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/script/text_chunker.h"
#include "support/test_support.h"
#include "text_chunker_cases.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

struct ChunkCase {
    std::string name;
    Settings settings;
    std::string text;
    std::vector<std::string> chunks;
};

void PrintTo(const ChunkCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ChunkExamples : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkExamples, CutWhereExpected) {
    EXPECT_EQ(textsOf(chunksOf(GetParam().text, 0, GetParam().settings)), GetParam().chunks);
}

TEST_P(ChunkExamples, CutTheSameFedByteByByte) {
    EXPECT_EQ(textsOf(chunksOf(GetParam().text, 1, GetParam().settings)), GetParam().chunks);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChunkExamples,
    ::testing::Values(
        ChunkCase{"Empty", {}, "", {}}, ChunkCase{"SpacesOnly", {}, "   ", {}},
        ChunkCase{"LineBreaksOnly", {}, "\n\n \n\n", {}},
        ChunkCase{"OneSentence", {}, "Hello world.", {"Hello world."}},
        ChunkCase{"WhitespaceCollapsed", {}, "  Hello \n  world.  ", {"Hello world."}},
        ChunkCase{"SingleLineBreakJoins", {}, "One\ntwo.\nThree.", {"One two. Three."}},
        ChunkCase{"ParagraphsGathered", {}, "One.\n\nTwo.", {"One.\n\nTwo."}},
        ChunkCase{"BlankLineWithSpaces", {}, "One.\n   \nTwo.", {"One.\n\nTwo."}},
        ChunkCase{"SeveralBlankLines", {}, "One.\n\n\n\nTwo.", {"One.\n\nTwo."}},
        ChunkCase{"BlankLineWithoutSentenceMark", {}, "no mark\n\nnext", {"no mark\n\nnext"}},
        ChunkCase{"ParagraphEndCutsAtTheTarget",
                  {10, 40},
                  "First one\n\nSecond one\n\nThird",
                  {"First one\n\nSecond one", "Third"}},
        ChunkCase{"EveryParagraphAtTargetOne", {1, 40}, "One.\n\nTwo", {"One.", "Two"}},
        ChunkCase{"TrailingBlankLines", {}, "One.\n\n\n", {"One."}},
        ChunkCase{"LeadingBlankLines", {}, "\n\nOne.", {"One."}},
        ChunkCase{"SentencesGatheredToTarget",
                  {20, 40},
                  "First one. Second one. Third one. Fourth.",
                  {"First one. Second one.", "Third one. Fourth."}},
        ChunkCase{"EverySentenceAtTargetOne",
                  {1, 40},
                  "Wait... what?! Yes; no: maybe.",
                  {"Wait...", "what?!", "Yes;", "no:", "maybe."}},
        ChunkCase{"ClosersStayWithTheSentence",
                  {10, 40},
                  "He said \"stop.\" Then (he left.) Done.",
                  {"He said \"stop.\"", "Then (he left.)", "Done."}},
        ChunkCase{"MarkInsideAWordIsNoEnd", {1, 40}, "Pi is 3.14 or so.", {"Pi is 3.14 or so."}},
        // A no-break space alone binds the mark to the next word; with ordinary white space
        // after it, or at the text's end, the sentence ends at the mark.
        ChunkCase{"NoBreakSpaceBindsTheNextWord",
                  {1, 40},
                  "Mr.\u00A0Bennet. Mrs.\u00A0\u00A0Hill. Done.\u00A0 Next.\u00A0\n\nLast.\u00A0",
                  {"Mr.\u00A0Bennet.", "Mrs.\u00A0\u00A0Hill.", "Done.", "Next.", "Last."}},
        ChunkCase{"LongSentenceCutAtASpace",
                  {8, 20},
                  "aaaa bbbb cccc dddd eeee ffff",
                  {"aaaa bbbb cccc dddd", "eeee ffff"}},
        ChunkCase{"RunWithoutSpacesCutAtTheLimit",
                  {8, 10},
                  "abcdefghijklmnopqrstuvwxyz",
                  {"abcdefghij", "klmnopqrst", "uvwxyz"}},
        ChunkCase{"RunOfTwoByteCharacters",
                  {8, 10},
                  repeat(eAcute, 10),
                  {repeat(eAcute, 5), repeat(eAcute, 5)}},
        ChunkCase{"CutBeforeACharacterThatCrossesTheLimit",
                  {8, 10},
                  "a" + repeat(eAcute, 8),
                  {"a" + repeat(eAcute, 4), repeat(eAcute, 4)}},
        ChunkCase{"EarlierSentenceEndPreferredAtTheLimit",
                  {30, 40},
                  "Short one. " + repeat("word ", 10),
                  {"Short one.", repeat("word ", 6) + "word", "word word word"}}),
    [](const ::testing::TestParamInfo<ChunkCase>& info) { return info.param.name; });

struct ChunkScriptCase {
    std::string name;
    std::string language; // of the voice
    std::size_t limit;
    std::string text;
    std::vector<std::string> chunks;
};

void PrintTo(const ChunkScriptCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ScriptSentences : public ::testing::TestWithParam<ChunkScriptCase> {};

// Every sentence a chunk of its own, as with timings, whether the text comes whole or byte
// by byte; a run without spaces is cut between words or whole characters.
TEST_P(ScriptSentences, AreCutWhereTheyEnd) {
    for (std::size_t piece : {0, 1})
        EXPECT_EQ(
            textsOf(chunksOf(GetParam().text, piece, {1, GetParam().limit}, GetParam().language)),
            GetParam().chunks)
            << "pieces of " << piece;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScriptSentences,
    ::testing::Values(
        ChunkScriptCase{"Chinese",
                        "cmn",
                        4000,
                        "今天天气很好。我们去公园散步吧！你觉得怎么样？",
                        {"今天天气很好。", "我们去公园散步吧！", "你觉得怎么样？"}},
        ChunkScriptCase{"ChineseQuoteClosesTheSentence",
                        "cmn",
                        4000,
                        "他说：“你好。”我们走吧。",
                        {"他说：“你好。”", "我们走吧。"}},
        ChunkScriptCase{"Japanese",
                        "ja",
                        4000,
                        "今日はいい天気です。公園に行きましょう！どう思いますか？",
                        {"今日はいい天気です。", "公園に行きましょう！", "どう思いますか？"}},
        ChunkScriptCase{"Hindi",
                        "hi",
                        4000,
                        "आज मौसम अच्छा है। चलो पार्क चलते हैं!",
                        {"आज मौसम अच्छा है।", "चलो पार्क चलते हैं!"}},
        ChunkScriptCase{"Arabic",
                        "ar",
                        4000,
                        "هل تريد أن تذهب إلى الحديقة؟ هيا بنا!",
                        {"هل تريد أن تذهب إلى الحديقة؟", "هيا بنا!"}},
        ChunkScriptCase{
            "ThaiAfterAnAsciiMark", "th", 4000, "ไปกันเถอะ!แมวกินปลา", {"ไปกันเถอะ!", "แมวกินปลา"}},
        ChunkScriptCase{"ThaiRunCutBetweenWords",
                        "th",
                        40,
                        repeat("แมวกินปลา", 3),
                        {"แมวกินปลาแมว", "กินปลาแมวกิน", "ปลา"}},
        ChunkScriptCase{"DevanagariRunNeverCutInsideAConjunct",
                        "hi",
                        16,
                        repeat("नमस्ते", 2),
                        {"नम", "स्तेन", "मस्ते"}},
        ChunkScriptCase{
            "EnglishAsEver",
            "en-us",
            4000,
            "Dr. Smith met Mr. Jones, e.g. at noon. He said “stop.” Done",
            {"Dr.", "Smith met Mr.", "Jones, e.g.", "at noon.", "He said “stop.” Done"}}),
    [](const auto& info) { return info.param.name; });

TEST(TextChunker, CountsCharactersUpToEachChunkEnd) {
    const std::vector<TextChunk> chunks = chunksOf("One.  Tw" + eAcute + ".", 0, {1, 40});
    ASSERT_EQ(textsOf(chunks), (std::vector<std::string>{"One.", "Tw" + eAcute + "."}));
    EXPECT_EQ(chunks[0].endCharacter, 4u);
    EXPECT_EQ(chunks[1].endCharacter, 10u);
}

TEST(TextChunker, GivesNothingBeforeFinishWhileTheEndIsOpen) {
    TextChunker chunker;
    chunker.push("A sentence that may go on.");
    EXPECT_FALSE(chunker.next());
    chunker.finish();
    const auto chunk = chunker.next();
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->text, "A sentence that may go on.");
    EXPECT_FALSE(chunker.next());
}

TEST(TextChunker, HandsOutAChunkBeforeTheTextEnds) {
    TextChunker chunker(10, 100);
    chunker.push("The first sentence. The second");
    const auto chunk = chunker.next();
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->text, "The first sentence.");
    EXPECT_FALSE(chunker.next());
}
} // namespace
} // namespace kestrova::speech
