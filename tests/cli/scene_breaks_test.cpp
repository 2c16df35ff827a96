// Scene breaks as books set them, rendered by the real engine: a text, Markdown file or HTML
// page with its rows of marks between scenes sounds byte for byte as it does without them, a
// paragraph's pause at each break, with timings asked for and without.

#include "books_cases.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace kestrova::cli {
namespace scene_breaks_test {

struct BrokenText {
    std::string ending;
    std::string withBreaks;
    std::string without;
};

TEST(SceneBreaks, SoundAsTheParagraphPauseAlone) {
    const std::vector<BrokenText> texts = {
        {".txt",
         "One winter ended.\n\n* * *\n\nThe keeper grew old.\r\n\u2014 \u2014 \u2014 \u2014 "
         "\u2014 \u2014 \u2014 \u2014\r\nHe left.\n\n\u2042\n",
         "One winter ended.\n\nThe keeper grew old.\r\n\r\nHe left.\n"},
        {".md", "One winter ended.\n\n* * *\n\nThe keeper grew old.\n\n\u2014 \u2014 \u2014\n",
         "One winter ended.\n\nThe keeper grew old.\n"},
        {".html",
         "<html><body><p>One winter ended.</p><p class=\"center\">- - - - - - - -</p><hr/>"
         "<p>The keeper grew old.</p><p>\u2022 \u2022 \u2022</p></body></html>",
         "<html><body><p>One winter ended.</p><p>The keeper grew old.</p></body></html>"}};
    for (const BrokenText& text : texts) {
        SCOPED_TRACE(text.ending);
        ScratchDir scratch;
        test::writeBytes(scratch / ("breaks" + text.ending), text.withBreaks);
        test::writeBytes(scratch / ("plain" + text.ending), text.without);
        for (const bool timed : {false, true}) {
            for (const std::string name : {"breaks", "plain"}) {
                std::vector<std::string> arguments = {"-q", "-e",          english,
                                                      "-o", name + ".wav", name + text.ending};
                if (timed)
                    arguments.insert(arguments.begin(), {"--timings", name + ".json"});
                const Outcome outcome = convert(scratch, arguments);
                ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
            }
            EXPECT_EQ(test::readBytes(scratch / "breaks.wav"),
                      test::readBytes(scratch / "plain.wav"))
                << (timed ? "timed" : "untimed");
        }
        EXPECT_EQ(timingsOf(scratch / "breaks.json").first.size(), 3u - (text.ending != ".txt"));
    }
}

} // namespace scene_breaks_test
} // namespace kestrova::cli
