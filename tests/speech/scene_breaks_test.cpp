// A block of marks only, as books set between scenes, is no block: every reader hands over
// the paragraphs around it and nothing for it, so that the break is one paragraph's pause.

#include "speech/base/scene_break.h"
#include "speech/text/readers/document.h"
#include "speech/text/readers/plain/scene_break_lines.h"
#include "xhtml_blocks_cases.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace scene_breaks_test {

TEST(SceneBreak, IsMarksAndSpacesOnly) {
    for (const char* mark : {"* * *", "*",           "— — — —", "-----", "⁂",     "• • •", "· · ·",
                             ". . .", "…",           "~ ~ ~",   "***",   "___",   "═══",   "❧",
                             "✻ ✻ ✻", "\xC2\xA0* *", "– – –",   "⸻",     "# # #", "+ + +"})
        EXPECT_TRUE(isSceneBreak(mark)) << mark;
    for (const char* text : {"", " ", "— he said.", "3.", "* * * A", "Yes — no", "x", "?", "!",
                             "* 1 *", "“…”", "(— — —)"})
        EXPECT_FALSE(isSceneBreak(text)) << text;
}

TEST(SceneBreak, GivesNoBlockInAPage) {
    const std::string page =
        "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>The first part ends.</p>"
        "<p>— — — —</p><p>Second.</p><p>* * *</p><hr/><p class=\"center\">-----</p>"
        "<div><p>⁂</p></div><p>Third.</p><p>  .  .  .  </p><p>— he said.</p></body></html>";
    const std::vector<std::string> expected = {"The first part ends.", "Second.", "Third.",
                                               "— he said."};
    EXPECT_EQ(readPage(page).events, expected);
    EXPECT_EQ(readPage(page, reading(true, true)).events, expected);
}

// Plain text: a line of marks only becomes spaces, its length and line end kept, however the
// text arrives in pieces (a mark's bytes parted among them); other lines pass as they are, and
// a long line of marks is the text's.
TEST(SceneBreak, BlanksPlainTextLinesOfMarksOnly) {
    const std::string longRow(5000, '-');
    const std::string text = "He paused.\r\n* * *\r\n\u2014 \u2014 \u2014\nShe * * left.\n"
                             "\u2042\n\n- an item\n" +
                             longRow + "\n\u2026";
    const std::string blanked = "He paused.\r\n     \r\n" + std::string(11, ' ') +
                                "\nShe * * left.\n   \n\n- an item\n" + longRow + "\n   ";
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, text.size()}) {
        SCOPED_TRACE(piece);
        SceneBreakLines lines;
        std::string passed;
        for (std::size_t at = 0; at < text.size(); at += piece) {
            const std::string out = lines.push(std::string_view(text).substr(at, piece));
            passed += out;
            EXPECT_LE(passed.size(), std::min(text.size(), at + piece)); // none added
        }
        passed += lines.finish();
        EXPECT_EQ(passed, blanked);
    }
}

} // namespace scene_breaks_test
} // namespace kestrova::speech
