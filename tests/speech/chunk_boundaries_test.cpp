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
