#include "speech/speech_timings.h"
#include "speech/text/readers/plain/heading_finder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

struct HeadingCase {
    const char* name;
    std::string text;
    std::vector<std::string> titles;
};

// Every heading's title, and its line found again at the positions given, whether the text
// arrives whole or a byte at a time.
class HeadingFinderCases : public ::testing::TestWithParam<HeadingCase> {};

TEST_P(HeadingFinderCases, FindsOneLineParagraphsThePatternMatches) {
    const HeadingCase& c = GetParam();
    for (const std::size_t piece : {c.text.size() + 1, std::size_t{1}}) {
        HeadingFinder finder(defaultChapterPattern);
        for (std::size_t at = 0; at < c.text.size(); at += piece)
            finder.push(std::string_view(c.text).substr(at, piece));
        finder.finish();
        EXPECT_EQ(finder.resolvedEnd(), c.text.size());
        std::vector<std::string> titles;
        for (std::size_t at = 0; at < c.text.size(); ++at)
            if (const HeadingFinder::Heading* heading = finder.headingAt(at);
                heading && heading->start == at) {
                titles.push_back(heading->title);
                // The line as it stands, a Markdown heading with its #s.
                const std::string line = c.text.substr(at, heading->end - at);
                EXPECT_TRUE(line == heading->title ||
                            (line.starts_with('#') && line.ends_with(heading->title)))
                    << line;
            }
        EXPECT_EQ(titles, c.titles) << "in pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HeadingFinderCases,
    ::testing::Values(
        HeadingCase{"EveryKind",
                    "Chapter 1\n\nText.\n\nCHAPTER TWO\n\nPart 3: Ends\n\nBook Four\n\n"
                    "Prologue\n\nEpilogue\n\n## Notes\n",
                    {"Chapter 1", "CHAPTER TWO", "Part 3: Ends", "Book Four", "Prologue",
                     "Epilogue", "Notes"}},
        HeadingCase{"TwoLinesAreNoHeading", "Chapter 1\nsays more.\n\nText.", {}},
        HeadingCase{"LaterLineOfAParagraph", "Some text\nChapter 1\n\nText.", {}},
        HeadingCase{"WordsThatOnlyBeginSo", "Chapterhouse\n\nPartly cloudy\n\nchapter 1", {}},
        HeadingCase{"SpacesAroundAndBlankLinesOfSpaces",
                    "  Chapter 9  \n   \nText.\n \n\t# Title #1\n",
                    {"Chapter 9", "Title #1"}},
        HeadingCase{"CarriageReturnsAreSpaces", "Chapter 5 \n \nText.", {"Chapter 5"}},
        HeadingCase{"LastLineOfTheText", "Text.\n\nEpilogue", {"Epilogue"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrova::speech
