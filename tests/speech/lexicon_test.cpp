#include "speech/speech_error.h"
#include "speech/text/lexicon/lexicon.h"
#include "support/test_support.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

using test::ScratchDir;
using test::writeBytes;

struct ApplyCase {
    std::string name;
    std::string lexicon;
    std::string text;
    std::string spoken;
};

void PrintTo(const ApplyCase& entry, std::ostream* out) {
    *out << entry.name;
}

class LexiconApply : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(LexiconApply, SpeaksTheReplacements) {
    const Lexicon lexicon = Lexicon::parse(GetParam().lexicon, "words.txt");
    EXPECT_EQ(lexicon.apply(GetParam().text), GetParam().spoken);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, LexiconApply,
    ::testing::Values(
        ApplyCase{"AnyLetterCase", "gif = jiff\n", "GIF, Gif and gif.", "jiff, jiff and jiff."},
        ApplyCase{"MaoriInAnyCase", "Māori = Maa-oh-ree\n", "MĀORI and māori",
                  "Maa-oh-ree and Maa-oh-ree"},
        ApplyCase{"GreekFinalSigma", "ΟΔΥΣΣΕΥΣ = Odysseus\n", "ο Οδυσσευς και ο οδυσσεύς",
                  "ο Odysseus και ο οδυσσεύς"},
        ApplyCase{"Cyrillic", "Щи = shchee\n", "щи и ЩИ", "shchee и shchee"},
        ApplyCase{"WholeWordsOnly", "cat = kitty\n", "cat catalogue concat cat_ 1cat cat.",
                  "kitty catalogue concat cat_ 1cat kitty."},
        ApplyCase{"WholeWordsBeyondAscii", "ma = mah\n", "ma māori ñma ma", "mah māori ñma mah"},
        ApplyCase{"CombiningMarkIsPartOfTheWord", "Ma = mah\n", "Ma\u0304ori Ma",
                  "Ma\u0304ori mah"},
        ApplyCase{"MultiWordKeyAcrossWhiteSpace", "New   York = Noo Yawk\n",
                  "new york, NEW\tYORK, new\n  york, new\u00a0york, newyork",
                  "Noo Yawk, Noo Yawk, Noo Yawk, Noo Yawk, newyork"},
        ApplyCase{"LongestMatchFirst", "new = knew\nnew york = NYC\nnew york city = the city\n",
                  "new york city, new york, new", "the city, NYC, knew"},
        ApplyCase{"KeysWithPunctuation", "C++ = see plus plus\nC# = see sharp\nDr. = doctor\n",
                  "C++ and C# by Dr. Who", "see plus plus and see sharp by doctor Who"},
        ApplyCase{"ReplacementsAreNotReplacedAgain", "a = b\nb = a\n", "a b", "b a"},
        ApplyCase{"DollarInWordReplacementIsText", "price = $1 each\n", "price", "$1 each"},
        ApplyCase{"EmptyReplacementDeletes", "um =\n", "so um yes", "so  yes"},
        ApplyCase{"LaterEntryWins", "tomato = tom-ay-to\nTOMATO = tom-ah-to\n", "tomato",
                  "tom-ah-to"},
        ApplyCase{"PatternWithGroups", "/(\\d+)°C/ = $1 degrees Celsius\n", "It is 21°C.",
                  "It is 21 degrees Celsius."},
        ApplyCase{"PatternNamedGroupAndDollar", "/(?<n>\\d+)\\$/ = ${n} dollars $$\n", "5$",
                  "5 dollars $"},
        ApplyCase{"UnsetGroupGivesNothing", "/(a)|b/ = [$1]\n", "ab", "[a][]"},
        ApplyCase{"PatternsBeforeWords", "dr = doctor\n/Dr\\.? (\\w+)/ = Dr $1\n", "Dr. Smith",
                  "doctor Smith"},
        ApplyCase{"PatternsInFileOrder", "/a/ = b\n/b/ = c\n", "ab", "cc"},
        ApplyCase{"SlashInPattern", "/km\\/h/ = kilometres an hour\n", "90 km/h",
                  "90 kilometres an hour"},
        ApplyCase{"PatternIsCaseSensitiveUnlessAsked", "/nasa/ = nah-sah\n/(?i)esa/ = ee-sa\n",
                  "NASA nasa ESA", "NASA nah-sah ee-sa"},
        ApplyCase{"EmptyMatchingPatternEnds", "/x*/ = -\n", "abc", "-a-b-c-"},
        ApplyCase{"Comments",
                  "# a comment\n   # indented\n\nC# = see sharp # the language\n"
                  "/#(\\d+)/ = number $1 # hash inside the pattern\nkiwi = kee-wee#1\n",
                  "C# #7 kiwi", "see sharp number 7 kee-wee#1"},
        ApplyCase{"CrLfAndByteOrderMark", "\xEF\xBB\xBFone = won\r\ntwo = too\r\n", "one two",
                  "won too"},
        ApplyCase{"TabsAreBlanks", "\tthree\t=\tthree\tpoint\n", "three", "three point"}),
    [](const auto& info) { return info.param.name; });

struct BadLineCase {
    std::string name;
    std::string lexicon;
    std::string message;
};

void PrintTo(const BadLineCase& entry, std::ostream* out) {
    *out << entry.name;
}

class LexiconBadLine : public ::testing::TestWithParam<BadLineCase> {};

TEST_P(LexiconBadLine, NamesTheFileAndLine) {
    ScratchDir scratch;
    writeBytes(scratch / "good.txt", "fine = fine\n");
    writeBytes(scratch / "bad.txt", "# first\nok = okay\n" + GetParam().lexicon);
    try {
        Lexicon::load({scratch / "good.txt", scratch / "bad.txt"});
        FAIL() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.what(), (scratch / "bad.txt").string() + ":3: " + GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LexiconBadLine,
    ::testing::Values(
        BadLineCase{"NoEquals", "just words\n", "no \"=\" between the word and its replacement"},
        BadLineCase{"EqualsOnlyInComment", "word # = not here\n",
                    "no \"=\" between the word and its replacement"},
        BadLineCase{"EmptyKey", "  = something\n", "no word before \"=\""},
        BadLineCase{"PatternWithoutEquals", "/abc/ abc\n", "no \"=\" after the pattern"},
        BadLineCase{"UnclosedPattern", "/abc = x\n",
                    "the pattern has no closing / (write a / inside it as \\/)"},
        BadLineCase{"EmptyPattern", "// = x\n", "an empty pattern"},
        BadLineCase{"BadRegex", "/(ab/ = x\n",
                    "bad pattern: missing closing parenthesis at offset 3"},
        BadLineCase{"BackslashC", "/a\\C/ = x\n",
                    "bad pattern: using \\C is disabled by the application at offset 3"},
        BadLineCase{"MissingGroup", "/(a)b/ = $2\n", "bad replacement: unknown substring"},
        BadLineCase{"MissingNamedGroup", "/(?<x>a)/ = ${y}\n",
                    "bad replacement: unknown substring"},
        BadLineCase{"BadDollar", "/(a)/ = ${1\n",
                    "bad replacement: expected closing curly bracket in replacement string"},
        BadLineCase{"InvalidUtf8", "caf\xE9 = coffee\n", "UTF-8 error: byte 2 top bits not 0x80"},
        BadLineCase{"ControlCharacter", "bell = \x07\n", "a control character (U+0007)"},
        BadLineCase{"C1ControlCharacter", "csi = \xC2\x9B\n", "a control character (U+009B)"}),
    [](const auto& info) { return info.param.name; });

TEST(Lexicon, EmptyLeavesTheTextAlone) {
    const Lexicon none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.apply("Any text\n at all"), "Any text\n at all");
    const Lexicon onlyComments = Lexicon::parse("# nothing\n\n", "x");
    EXPECT_TRUE(onlyComments.empty());
    EXPECT_FALSE(Lexicon::parse("a = b", "x").empty());
}

TEST(Lexicon, LaterFilesWin) {
    ScratchDir scratch;
    writeBytes(scratch / "first.txt", "Ngaio = Nye-oh\nKiri = Kee-ree\n/(\\d+)h/ = $1 hours\n");
    writeBytes(scratch / "second.txt",
               "NGAIO = Nay-oh\n/(\\d+)h/ = $1 o'clock\n/o'c/ = of the c\n");
    const Lexicon lexicon = Lexicon::load({scratch / "first.txt", scratch / "second.txt"});
    // The second file's pattern for the same key keeps the first file's place, before /o'c/.
    EXPECT_EQ(lexicon.apply("ngaio, Kiri, 5h"), "Nay-oh, Kee-ree, 5 of the clock");
}

TEST(Lexicon, ManyWordsSpanSeveralExpressions) {
    // More alternatives than one PCRE2 expression can hold; the longest key still wins.
    std::string content;
    for (int i = 0; i < 20000; ++i)
        content += "word" + std::to_string(i) + " = w" + std::to_string(i) + "\n";
    content += "word1 word2 = both\n";
    const Lexicon lexicon = Lexicon::parse(content, "many.txt");
    EXPECT_EQ(lexicon.apply("Word19999 word1 word2 word7 WORD123"), "w19999 both w7 w123");
}

TEST(Lexicon, UnreadableFileIsNamed) {
    ScratchDir scratch;
    const auto missing = scratch / "missing.txt";
    try {
        Lexicon::load({missing});
        FAIL() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.what(), "cannot read the lexicon \"" + missing.string() +
                                    "\": No such file or directory");
    }
    try {
        Lexicon::load({scratch.path()});
        FAIL() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.what(),
                  "cannot read the lexicon \"" + scratch.path().string() + "\": Is a directory");
    }
}

// A line without end, from a device or a writer that never stops, is refused at the line
// limit: not after the whole file's limit of 64 MiB, and not never.
TEST(Lexicon, EndlessLineIsRefusedAtItsLimit) {
    ScratchDir scratch;
    writeBytes(scratch / "long.txt", "a = b\n# fine\n" + std::string(70000, 'x') + " = y\n");
    const auto refusal = [](const std::vector<std::filesystem::path>& files) {
        try {
            Lexicon::load(files);
        } catch (const FileError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(refusal({scratch / "long.txt"}),
              (scratch / "long.txt").string() + ":3: a line longer than 64 KiB");
    EXPECT_EQ(refusal({"/dev/zero"}), "/dev/zero:1: a line longer than 64 KiB");

    // A writer that keeps writing until the reader has gone.
    const auto fifo = scratch / "endless";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        const std::string block(4096, 'z');
        while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0)
            written += block.size();
        ::close(fd);
    });
    const std::string message = refusal({fifo});
    ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)); // a writer still waiting
    writer.join();
    std::signal(SIGPIPE, previous);
    EXPECT_EQ(message, fifo.string() + ":1: a line longer than 64 KiB");
    EXPECT_LT(written, std::size_t{1} << 20);
}

struct BoundCase {
    std::string name;
    std::string lexicon;
    std::string text;
    std::string message;
};

void PrintTo(const BoundCase& entry, std::ostream* out) {
    *out << entry.name;
}

class LexiconBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(LexiconBound, StopsWithTheEntrysLine) {
    const Lexicon lexicon = Lexicon::parse(GetParam().lexicon, "lex.txt");
    try {
        lexicon.apply(GetParam().text);
        FAIL() << "no error";
    } catch (const SpeechError& error) {
        EXPECT_EQ(error.what(), GetParam().message);
    }
}

const std::string longReplacement(1000, 'z');

std::string repeated(std::string_view text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    Work, LexiconBound,
    ::testing::Values(
        BoundCase{"CatastrophicBacktracking", "ok = fine\n/(a+)+$/ = x\n",
                  std::string(40, 'a') + "b",
                  "lex.txt:2: the pattern \"(a+)+$\" cannot be applied: match limit exceeded"},
        // A long pattern is shown cut in the middle.
        BoundCase{"CatastrophicBacktrackingOfALongPattern",
                  "ok = fine\n\n/(a+)+" + repeated("c?", 100) + "$/ = x\n",
                  std::string(40, 'a') + "b",
                  "lex.txt:3: the pattern \"(a+)+c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c..."
                  "?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?c?$\" cannot be applied: match limit "
                  "exceeded"},
        BoundCase{"ChainedGrowth",
                  "/x*/ = " + longReplacement + "\n/z/ = " + longReplacement + "\n", "ab",
                  "lex.txt:2: the lexicon makes the text more than 32 times as long"},
        BoundCase{"WordGrowth", "a = " + longReplacement + "\n", repeated("a ", 100),
                  "lex.txt:1: the lexicon makes the text more than 32 times as long"}),
    [](const auto& info) { return info.param.name; });

TEST(Lexicon, TextThatIsNoUtf8IsRefused) {
    const Lexicon lexicon = Lexicon::parse("a = b\n", "x");
    EXPECT_THROW(lexicon.apply("a \xFF"), SpeechError);
}

} // namespace
} // namespace kestrova::speech
