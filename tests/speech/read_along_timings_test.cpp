// How a read-along book's narration is cut into its documents' audio, and the clock values its
// overlays and package give.

#include "speech/conversion/read_along/epub3_upgrade.h"
#include "speech/conversion/read_along/media_overlay.h"
#include "speech/conversion/read_along/read_along_book.h"

#include <gtest/gtest.h>
#include <regex>

namespace kestrova::speech::read_along {
namespace read_along_timings_test {

SentenceTiming sentence(std::string source, std::uint64_t first, std::uint64_t start = 0) {
    return SentenceTiming{.text = "x",
                          .startByte = source.empty() ? std::nullopt : std::optional(start),
                          .endByte = source.empty() ? std::nullopt : std::optional(start + 1),
                          .firstFrame = first,
                          .lastFrame = first + 10,
                          .source = std::move(source),
                          .page = {},
                          .parts = {}};
}

// The pieces follow one another with no gap and no overlap from frame 0 to the end, each
// beginning where its document's first sentence does; a sentence with no place (a title read
// from the package) stays in the piece it is spoken in, and a spine page with nothing read
// gets none.
TEST(ReadAlongTimings, DocumentsCoverTheWholeNarrationInSpeakingOrder) {
    SpeechTimings timings{
        .sampleRate = 1000, .frames = 900, .sentences = {}, .chapters = {}, .marks = {}};
    timings.sentences = {
        sentence("", 50),  sentence("a.xhtml", 100),    sentence("a.xhtml", 300),
        sentence("", 400), sentence("c.xhtml", 500, 7), sentence("c.xhtml", 700, 3)};
    const std::vector<DocumentNarration> narrations =
        documentNarrations(timings, {"a.xhtml", "b.xhtml", "c.xhtml"});
    ASSERT_EQ(narrations.size(), 2u);
    EXPECT_EQ(narrations[0].entry, "a.xhtml");
    EXPECT_EQ(narrations[0].beginFrame, 0u);
    EXPECT_EQ(narrations[0].endFrame, 500u);
    EXPECT_EQ(narrations[0].sentences, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(narrations[1].entry, "c.xhtml");
    EXPECT_EQ(narrations[1].beginFrame, 500u);
    EXPECT_EQ(narrations[1].endFrame, 900u);
    EXPECT_EQ(narrations[1].sentences, (std::vector<std::size_t>{4, 5}));
}

// Clock values to the millisecond, past a minute and an hour.
TEST(ReadAlongTimings, ClockValues) {
    EXPECT_EQ(clipClock(0), "0.000s");
    EXPECT_EQ(clipClock(61'005), "61.005s");
    EXPECT_EQ(durationClock(999), "0:00:00.999");
    EXPECT_EQ(durationClock(3'723'004), "1:02:03.004");
}

// An EPUB 2 book's NCX, nested three deep, becomes a navigation document nested as deep: each
// level a list inside the item it comes under. An entry whose own parent is left out (a link
// outside the book) takes that parent's place.
TEST(ReadAlongNavigation, KeepsTheNestingOfTheTable) {
    const std::string ncx = R"(<ncx xmlns="http://www.daisy.org/z3986/2005/ncx/" version="2005-1">
<navMap>
 <navPoint><navLabel><text>Part</text></navLabel><content src="a.xhtml"/>
  <navPoint><navLabel><text>One</text></navLabel><content src="a.xhtml#one"/>
   <navPoint><navLabel><text>Scene</text></navLabel><content src="b.xhtml"/></navPoint>
  </navPoint>
  <navPoint><navLabel><text>Two</text></navLabel><content src="c.xhtml"/></navPoint>
 </navPoint>
 <navPoint><navLabel><text>Away</text></navLabel><content src="https://example.org/"/>
  <navPoint><navLabel><text>Deep</text></navLabel><content src="d.xhtml"/>
   <navPoint><navLabel><text>Deeper</text></navLabel><content src="d.xhtml#x"/></navPoint>
  </navPoint>
 </navPoint>
 <navPoint><navLabel><text>End</text></navLabel><content src="e.xhtml"/></navPoint>
</navMap></ncx>)";
    const std::vector<epub::TocEntry> entries =
        epub::ncxEntries(ncx, "toc.ncx", [](const std::string& reason) { FAIL() << reason; });
    std::vector<int> levels;
    for (const epub::TocEntry& entry : entries)
        levels.push_back(entry.level);
    EXPECT_EQ(levels, (std::vector<int>{0, 1, 2, 1, 0, 1, 0}));

    const std::string nav = navigationDocument(entries, "nav.xhtml", "Book", "en");
    const std::size_t list = nav.find("<ol>");
    const std::string skeleton = std::regex_replace(nav.substr(list, nav.find("</nav>") - list),
                                                    std::regex(R"(<a href="[^"]*">|</a>|\n)"), "");
    EXPECT_EQ(skeleton, "<ol><li>Part<ol><li>One<ol><li>Scene</li></ol></li><li>Two</li></ol></li>"
                        "<li>Deep<ol><li>Deeper</li></ol></li><li>End</li></ol>");
    EXPECT_NE(nav.find(R"(<a href="a.xhtml#one">One</a>)"), std::string::npos);
}

} // namespace read_along_timings_test
} // namespace kestrova::speech::read_along
