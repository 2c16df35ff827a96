#include "app/hand_off.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::app {
namespace {

struct HandOffCase {
    std::string text;
    std::optional<HandOff> expected;
};

void PrintTo(const HandOffCase& handOff, std::ostream* out) {
    *out << '"' << handOff.text << '"';
}

class ParseHandOff : public ::testing::TestWithParam<HandOffCase> {};

TEST_P(ParseHandOff, SplitsAtPercentAndTrimsSpaces) {
    const std::optional<HandOff> parsed = parseHandOff(GetParam().text);
    ASSERT_EQ(parsed.has_value(), GetParam().expected.has_value());
    if (!parsed)
        return;
    EXPECT_EQ(parsed->EngineName, GetParam().expected->EngineName);
    EXPECT_EQ(parsed->FileToOpen, GetParam().expected->FileToOpen);
}

INSTANTIATE_TEST_SUITE_P(NotAHandOff, ParseHandOff,
                         ::testing::Values(HandOffCase{"", std::nullopt},
                                           HandOffCase{"   ", std::nullopt},
                                           HandOffCase{"no percent", std::nullopt},
                                           HandOffCase{"/path/file.txt", std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    Fields, ParseHandOff,
    ::testing::Values(
        HandOffCase{"%", HandOff{"", ""}}, HandOffCase{" % ", HandOff{"", ""}},
        HandOffCase{"eng%", HandOff{"eng", ""}}, HandOffCase{"%/p.txt", HandOff{"", "/p.txt"}},
        HandOffCase{" eng % /p/a b.txt ", HandOff{"eng", "/p/a b.txt"}},
        HandOffCase{"Flite slt%/tmp/x.txt", HandOff{"Flite slt", "/tmp/x.txt"}},
        HandOffCase{"  VW  Kate  %  two  spaces  ", HandOff{"VW  Kate", "two  spaces"}},
        // Fields after the second are ignored, even when they hold part of a path.
        HandOffCase{"e%p%more", HandOff{"e", "p"}}, HandOffCase{"e%/a%b.txt", HandOff{"e", "/a"}},
        HandOffCase{"%%", HandOff{"", ""}}, HandOffCase{"e%%p", HandOff{"e", ""}},
        // Quotes are kept as they are.
        HandOffCase{"\"e%p\"", HandOff{"\"e", "p\""}},
        // Only U+0020 is trimmed.
        HandOffCase{"\te%p\t", HandOff{"\te", "p\t"}},
        HandOffCase{"e\n%\np", HandOff{"e\n", "\np"}},
        HandOffCase{"\xC2\xA0"
                    "e%p",
                    HandOff{"\xC2\xA0"
                            "e",
                            "p"}}));

struct JoinCase {
    std::vector<const char*> argv;
    std::string expected;
};

void PrintTo(const JoinCase& join, std::ostream* out) {
    *out << join.argv.size() << " arguments -> \"" << join.expected << '"';
}

class HandOffString : public ::testing::TestWithParam<JoinCase> {};

TEST_P(HandOffString, JoinsTheArgumentsAfterTheProgramWithSingleSpaces) {
    const std::vector<const char*>& argv = GetParam().argv;
    EXPECT_EQ(handOffString(static_cast<int>(argv.size()), argv.data()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, HandOffString,
    ::testing::Values(JoinCase{{"prog"}, ""}, JoinCase{{"prog", "a"}, "a"},
                      JoinCase{{"prog", "eng", "%", "/p/a", "b.txt"}, "eng % /p/a b.txt"},
                      JoinCase{{"prog", "eng%/p/a b.txt"}, "eng%/p/a b.txt"},
                      JoinCase{{"prog", "", ""}, " "}, JoinCase{{"prog", " a ", "b"}, " a  b"},
                      JoinCase{{"/usr/bin/prog", "x"}, "x"}));

TEST(HandOffString, ArgumentCountZeroGivesNothing) {
    const char* argv[] = {nullptr};
    EXPECT_EQ(handOffString(0, argv), "");
}

// The host splits the hand-off over several arguments; joining and parsing gets it back.
TEST(HandOffString, JoinedArgumentsParseIntoTheHandOff) {
    const char* argv[] = {"prog", "Flite", "slt", "%", "/home/u/My", "Notes/a.txt"};
    const std::optional<HandOff> parsed = parseHandOff(handOffString(6, argv));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->EngineName, "Flite slt");
    EXPECT_EQ(parsed->FileToOpen, "/home/u/My Notes/a.txt");
}

struct TrimCase {
    std::string text;
    std::string expected;
};

class TrimSpaces : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimSpaces, RemovesLeadingAndTrailingSpacesOnly) {
    EXPECT_EQ(trimSpaces(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, TrimSpaces,
                         ::testing::Values(TrimCase{"", ""}, TrimCase{" ", ""},
                                           TrimCase{"     ", ""}, TrimCase{"a", "a"},
                                           TrimCase{" a ", "a"}, TrimCase{"  a b  ", "a b"},
                                           TrimCase{"\ta\t", "\ta\t"}, TrimCase{" \t ", "\t"}));

} // namespace
} // namespace kestrova::app
