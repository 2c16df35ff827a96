#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/script/text_chunker.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

using test::isValidUtf8;
using test::utf8Characters;
using test::withoutSpaces;

struct Settings {
    std::size_t target = TextChunker::defaultTargetBytes;
    std::size_t limit = TextChunker::defaultLimitBytes;
};

// Feeds the text in pieces (0: whole), draining ready chunks after every piece.
std::vector<TextChunk> chunksOf(std::string_view text, std::size_t piece = 0,
                                Settings settings = {}, const std::string& language = {}) {
    TextChunker chunker(settings.target, settings.limit, language);
    std::vector<TextChunk> chunks;
    const auto drain = [&] {
        while (auto chunk = chunker.next())
            chunks.push_back(std::move(*chunk));
    };
    if (piece == 0)
        piece = std::max<std::size_t>(1, text.size());
    for (std::size_t at = 0; at < text.size(); at += piece) {
        chunker.push(text.substr(at, piece));
        drain();
    }
    chunker.finish();
    drain();
    return chunks;
}

std::vector<std::string> textsOf(const std::vector<TextChunk>& chunks) {
    std::vector<std::string> texts;
    for (const TextChunk& chunk : chunks)
        texts.push_back(chunk.text);
    return texts;
}

struct ChunkCase {
    std::string name;
    Settings settings;
    std::string text;
    std::vector<std::string> chunks;
};

void PrintTo(const ChunkCase& entry, std::ostream* out) {
    *out << entry.name;
}

void PrintTo(const Settings& settings, std::ostream* out) {
    *out << "target " << settings.target << ", limit " << settings.limit;
}

class ChunkExamples : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkExamples, CutWhereExpected) {
    EXPECT_EQ(textsOf(chunksOf(GetParam().text, 0, GetParam().settings)), GetParam().chunks);
}

TEST_P(ChunkExamples, CutTheSameFedByteByByte) {
    EXPECT_EQ(textsOf(chunksOf(GetParam().text, 1, GetParam().settings)), GetParam().chunks);
}

const std::string eAcute = "\xC3\xA9";

std::string repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
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

struct ScriptCase {
    std::string name;
    std::string language; // of the voice
    std::size_t limit;
    std::string text;
    std::vector<std::string> chunks;
};

void PrintTo(const ScriptCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ScriptSentences : public ::testing::TestWithParam<ScriptCase> {};

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
        ScriptCase{"Chinese",
                   "cmn",
                   4000,
                   "今天天气很好。我们去公园散步吧！你觉得怎么样？",
                   {"今天天气很好。", "我们去公园散步吧！", "你觉得怎么样？"}},
        ScriptCase{"ChineseQuoteClosesTheSentence",
                   "cmn",
                   4000,
                   "他说：“你好。”我们走吧。",
                   {"他说：“你好。”", "我们走吧。"}},
        ScriptCase{"Japanese",
                   "ja",
                   4000,
                   "今日はいい天気です。公園に行きましょう！どう思いますか？",
                   {"今日はいい天気です。", "公園に行きましょう！", "どう思いますか？"}},
        ScriptCase{"Hindi",
                   "hi",
                   4000,
                   "आज मौसम अच्छा है। चलो पार्क चलते हैं!",
                   {"आज मौसम अच्छा है।", "चलो पार्क चलते हैं!"}},
        ScriptCase{"Arabic",
                   "ar",
                   4000,
                   "هل تريد أن تذهب إلى الحديقة؟ هيا بنا!",
                   {"هل تريد أن تذهب إلى الحديقة؟", "هيا بنا!"}},
        ScriptCase{
            "ThaiAfterAnAsciiMark", "th", 4000, "ไปกันเถอะ!แมวกินปลา", {"ไปกันเถอะ!", "แมวกินปลา"}},
        ScriptCase{"ThaiRunCutBetweenWords",
                   "th",
                   40,
                   repeat("แมวกินปลา", 3),
                   {"แมวกินปลาแมว", "กินปลาแมวกิน", "ปลา"}},
        ScriptCase{"DevanagariRunNeverCutInsideAConjunct",
                   "hi",
                   16,
                   repeat("नमस्ते", 2),
                   {"नम", "स्तेन", "मस्ते"}},
        ScriptCase{"EnglishAsEver",
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

// A random text of words, sentence marks, closers, line breaks, blank lines, multi-byte
// characters and the odd long run without spaces.
std::string randomText(std::mt19937& random, std::size_t length) {
    static const std::vector<std::string> parts = {"word",
                                                   "a",
                                                   "longerword",
                                                   eAcute,
                                                   "\xE2\x82\xAC",
                                                   "\xF0\x9F\x98\x80",
                                                   ".",
                                                   "!",
                                                   "?",
                                                   ";",
                                                   ":",
                                                   "...",
                                                   "\"",
                                                   ")",
                                                   "'",
                                                   "]",
                                                   "\xE2\x80\x9D",
                                                   " ",
                                                   " ",
                                                   " ",
                                                   "  ",
                                                   "\n",
                                                   "\n\n",
                                                   "\n \n",
                                                   "3.14",
                                                   "e.g.",
                                                   "我们",
                                                   "。",
                                                   "！",
                                                   "」",
                                                   "แมวกินปลา",
                                                   "।",
                                                   "؟"};
    std::uniform_int_distribution<std::size_t> pick(0, parts.size() - 1);
    std::string text;
    while (text.size() < length) {
        if (random() % 200 == 0)
            text += repeat(random() % 2 ? "x" : eAcute, static_cast<int>(random() % 300));
        else
            text += parts[pick(random)];
    }
    return text;
}

// Trimmed, with single spaces between words, or a blank line where a paragraph ends.
bool singleSpaced(std::string_view chunk) {
    if (chunk.empty() || chunk.front() == ' ' || chunk.back() == ' ' || chunk.front() == '\n' ||
        chunk.back() == '\n')
        return false;
    for (std::size_t i = 0; i + 1 < chunk.size(); ++i) {
        const char c = chunk[i];
        const char next = chunk[i + 1];
        if (c == ' ' && (next == ' ' || next == '\n'))
            return false;
        if (c == '\n' && next == ' ')
            return false;
        if (c == '\n' && next == '\n' && i + 2 < chunk.size() && chunk[i + 2] == '\n')
            return false;
        if (c == '\n' && next != '\n' && (i == 0 || chunk[i - 1] != '\n'))
            return false; // a lone line break
    }
    return true;
}

::testing::AssertionResult wellFormed(const std::vector<TextChunk>& chunks, std::string_view text,
                                      Settings settings) {
    std::string joined;
    std::uint64_t previousEnd = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const std::string& chunk = chunks[i].text;
        if (chunk.empty())
            return ::testing::AssertionFailure() << "chunk " << i << " is empty";
        if (chunk.size() > std::max(settings.limit, std::max<std::size_t>(settings.target, 8)))
            return ::testing::AssertionFailure()
                   << "chunk " << i << " has " << chunk.size() << " bytes: " << chunk;
        if (!isValidUtf8(chunk))
            return ::testing::AssertionFailure() << "chunk " << i << " is not valid UTF-8";
        if (!singleSpaced(chunk))
            return ::testing::AssertionFailure()
                   << "chunk " << i << " is not single-spaced: \"" << chunk << '"';
        if (chunks[i].endCharacter <= previousEnd)
            return ::testing::AssertionFailure()
                   << "chunk " << i << " ends at " << chunks[i].endCharacter << " after "
                   << previousEnd;
        previousEnd = chunks[i].endCharacter;
        joined += chunk;
    }
    if (previousEnd > utf8Characters(text))
        return ::testing::AssertionFailure() << "the last chunk ends past the text";
    if (withoutSpaces(joined) != withoutSpaces(text))
        return ::testing::AssertionFailure() << "characters were lost, added or reordered";
    return ::testing::AssertionSuccess();
}

class ChunkRandomText : public ::testing::TestWithParam<Settings> {};

TEST_P(ChunkRandomText, IsWellFormedAndIndependentOfThePieces) {
    const Settings settings = GetParam();
    std::mt19937 random(static_cast<unsigned>(settings.target * 7919 + settings.limit));
    for (int round = 0; round < 60; ++round) {
        const std::string text =
            randomText(random, 50 + random() % (settings.limit * 3 + 200)) + " end.";
        const std::vector<TextChunk> whole = chunksOf(text, 0, settings);
        ASSERT_TRUE(wellFormed(whole, text, settings)) << "text: " << text;
        ASSERT_EQ(whole.back().endCharacter, utf8Characters(text));
        for (std::size_t piece : {1, 2, 7, 13, 64}) {
            const std::vector<TextChunk> pieces = chunksOf(text, piece, settings);
            ASSERT_EQ(textsOf(pieces), textsOf(whole)) << "pieces of " << piece << ": " << text;
            for (std::size_t i = 0; i < whole.size(); ++i)
                ASSERT_EQ(pieces[i].endCharacter, whole[i].endCharacter) << "chunk " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChunkRandomText,
                         ::testing::Values(Settings{1, 8}, Settings{8, 16}, Settings{16, 40},
                                           Settings{50, 120}, Settings{300, 301},
                                           Settings{TextChunker::defaultTargetBytes,
                                                    TextChunker::defaultLimitBytes}));

TEST(TextChunker, CutsATwentyKilobyteWordAtCharacterBoundaries) {
    for (const std::string& character :
         {std::string("x"), eAcute, std::string("\xE2\x82\xAC"), std::string("\xF0\x9F\x98\x80")}) {
        const std::string text =
            "Before. " + repeat(character, 20000 / static_cast<int>(character.size())) + " after.";
        for (std::size_t piece : {0, 7}) {
            const std::vector<TextChunk> chunks = chunksOf(text, piece);
            ASSERT_TRUE(wellFormed(chunks, text, {})) << character;
            EXPECT_GE(chunks.size(), 6u);
            EXPECT_EQ(chunks.back().endCharacter, utf8Characters(text));
        }
    }
}

// A run of sentence marks and closers that starts below the limit and ends beyond it must
// not carry the chunk past the limit.
TEST(TextChunker, AMarkRunAcrossTheLimitStaysWithinIt) {
    for (std::size_t words = 795; words <= 800; ++words) {
        const std::string text = repeat("word ", static_cast<int>(words)) + "wait......)) next.";
        for (std::size_t piece : {0, 5}) {
            const std::vector<TextChunk> chunks = chunksOf(text, piece);
            EXPECT_TRUE(wellFormed(chunks, text, {})) << words << " words";
        }
    }
    const std::string small = "abcdefg.... x";
    EXPECT_TRUE(wellFormed(chunksOf(small, 0, {1, 8}), small, {1, 8}));
}

// Joined at blank lines, the chunks give the paragraphs.
std::string paragraphsOf(const std::vector<TextChunk>& chunks) {
    std::string joined;
    for (const TextChunk& chunk : chunks)
        joined += (joined.empty() ? "" : "\n\n") + chunk.text;
    return joined;
}

// Paragraph ends survive, as chunk ends or as blank lines inside a chunk; single line
// breaks do not make paragraphs. (A text below the target size, so that no chunk ends at
// a sentence.)
TEST(TextChunker, KeepsEveryParagraphEnd) {
    std::mt19937 random(5);
    std::string expected;
    std::string text;
    for (int i = 0; i < 40; ++i) {
        const std::string sentence = "Paragraph " + std::to_string(i) + (random() % 2 ? "." : "");
        const char* separators[] = {"\n\n", "\n \n", "\n\n\n", " \n  \n "};
        expected += (expected.empty() ? "" : "\n\n") + sentence + " wrapped line";
        text += sentence + "\nwrapped line" + separators[random() % 4];
    }
    ASSERT_LT(text.size(), TextChunker::defaultTargetBytes) << "no cut at a sentence end";
    for (std::size_t piece : {0, 1, 3})
        EXPECT_EQ(paragraphsOf(chunksOf(text, piece)), expected) << "pieces of " << piece;
}

TEST(TextChunker, GathersSentencesUntilTheTargetSize) {
    const std::string sentence = "This sentence has forty bytes in it ok. "; // 40 bytes
    ASSERT_EQ(sentence.size(), 40u);
    const std::vector<TextChunk> chunks = chunksOf(repeat(sentence, 100), 0, {200, 1000});
    ASSERT_GE(chunks.size(), 2u);
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
        // Five or six sentences: the first to reach 200 bytes, counting the space before it.
        EXPECT_GE(chunks[i].text.size(), 199u) << i;
        EXPECT_LE(chunks[i].text.size(), 239u) << i;
    }
}

struct LineEndCase {
    std::string name;
    std::string bytes;
};

void PrintTo(const LineEndCase& entry, std::ostream* out) {
    *out << entry.name;
}

class LineEnds : public ::testing::TestWithParam<LineEndCase> {};

// Hard-wrapped lines join and a blank line ends a paragraph, whatever the line ends of the
// system that wrote the file.
TEST_P(LineEnds, KeepTheParagraphsOfTheText) {
    for (std::size_t piece : {0, 1})
        EXPECT_EQ(paragraphsOf(chunksOf(decodeText(GetParam().bytes), piece)),
                  "One two three.\n\nFour five.");
}

INSTANTIATE_TEST_SUITE_P(
    Systems, LineEnds,
    ::testing::Values(
        LineEndCase{"LineFeed", "One\ntwo\nthree.\n\nFour\nfive.\n"},
        LineEndCase{"CarriageReturnLineFeed", "One\r\ntwo\r\nthree.\r\n\r\nFour\r\nfive.\r\n"},
        LineEndCase{"Utf16CarriageReturnLineFeed",
                    std::string("\xFF\xFEO\0n\0e\0\r\0\n\0t\0w\0o\0 \0t\0h\0r\0e\0e\0."
                                "\0\r\0\n\0\r\0\n\0F\0o\0u\0r\0 \0f\0i\0v\0e\0.\0",
                                60)}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace kestrova::speech

namespace kestrova::speech {
namespace {

struct BoundaryCase {
    std::string name;
    Settings settings;
    std::string text;
    std::vector<Boundary> before; // of each chunk
};

void PrintTo(const BoundaryCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ChunkBoundaries : public ::testing::TestWithParam<BoundaryCase> {};

// What separates a chunk from the one before it, however the text is fed in: the pauses of
// the conversion go there.
TEST_P(ChunkBoundaries, AreTheSentenceAndParagraphEnds) {
    for (std::size_t piece : {0, 1, 3}) {
        std::vector<Boundary> before;
        for (const TextChunk& chunk : chunksOf(GetParam().text, piece, GetParam().settings))
            before.push_back(chunk.before);
        EXPECT_EQ(before, GetParam().before) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChunkBoundaries,
    ::testing::Values(
        BoundaryCase{"Sentences",
                     {1, 100},
                     "One. Two! Three",
                     {Boundary::None, Boundary::Sentence, Boundary::Sentence}},
        BoundaryCase{"ParagraphAfterASentenceMark",
                     {1, 100},
                     "One.\n  \nTwo.",
                     {Boundary::None, Boundary::Paragraph}},
        BoundaryCase{
            "ParagraphWithoutAMark", {1, 100}, "One\n\nTwo", {Boundary::None, Boundary::Paragraph}},
        BoundaryCase{
            "LineBreakIsNoParagraph", {1, 100}, "One.\nTwo.", {Boundary::None, Boundary::Sentence}},
        BoundaryCase{"LongSentenceCutAtASpace",
                     {8, 10},
                     "aaaa bbbb cccc dddd.",
                     {Boundary::None, Boundary::None, Boundary::None}},
        BoundaryCase{"GatheredUpToTheParagraphEndThenCut",
                     {12, 20},
                     "One. Two.\n\nThree four five six.",
                     {Boundary::None, Boundary::Paragraph, Boundary::None}}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace kestrova::speech
