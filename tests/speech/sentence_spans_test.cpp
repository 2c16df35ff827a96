// Where a read-along book's sentence spans may go, judged by libxml2 as an independent parser
// of what they make, and the references between a book's entries.

#include "speech/conversion/read_along/entry_references.h"
#include "speech/conversion/read_along/sentence_spans.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <string>

namespace kestrova::speech::read_along {
namespace sentence_spans_test {

bool wellFormed(const std::string& document) {
    xmlDoc* parsed =
        xmlReadMemory(document.data(), static_cast<int>(document.size()), "page.xhtml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlFreeDoc(parsed);
    return parsed != nullptr;
}

// Each sentence, marked "[...]" in the page, is wrapped where one span can hold it, and the
// page stays well-formed exactly then: a sentence that leaves or enters an element cannot be.
TEST(SentenceSpans, OneSpanHoldsASentenceOnlyWhereItsElementsAreWhole) {
    struct Case {
        std::string page;
        bool holds;
    };
    const Case cases[] = {
        {"<p>[Plain words.] After.</p>", true},
        {"<p>[Inline <em>emphasis</em> and <a href=\"x>y\">a link</a>.]</p>", true},
        {"<p>[A break<br/>inside, fish &amp; chips.]</p>", true},
        {"<p>[A comment <!-- </p> --> and <![CDATA[ <b> ]]> kept.]</p>", true},
        {"<p>Start <em>[of it.</em> Then] more.</p>", false},  // leaves the <em>
        {"<p>[Begins <em>here.] Ends</em> later.</p>", false}, // enters it
        {"<p>[Cut <em class=\"a]\">x</em></p>", false},        // ends inside a tag
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.page);
        const std::size_t open = one.page.find('[');
        const std::size_t close = one.page.rfind(']');
        std::string page = "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title>"
                           "</head><body>" +
                           one.page.substr(0, open) + one.page.substr(open + 1, close - open - 1) +
                           one.page.substr(close + 1) + "</body></html>";
        const std::size_t begin = page.find("<body>") + 6 + open;
        const std::size_t end = begin + close - open - 1;
        EXPECT_EQ(holdsWholeElements(page, begin, end), one.holds);
        const std::string marked = withSentenceSpans(page, {{.begin = begin, .end = end}},
                                                     {"ra-s1"}, "<link rel=\"stylesheet\"/>");
        EXPECT_EQ(wellFormed(marked), one.holds) << marked;
        // Nothing but the span and the link is added: taken out, the page is the same bytes.
        std::string unmarked = marked;
        unmarked.erase(unmarked.find("<span id=\"ra-s1\">"), 17);
        unmarked.erase(unmarked.find("<link rel=\"stylesheet\"/>"), 24);
        unmarked.erase(unmarked.find("</span>", begin), 7);
        EXPECT_EQ(unmarked, page);
    }
}

// The ids of a page are never taken by its spans, and the spans' prefix says so.
TEST(SentenceSpans, SpanIdsAvoidThePagesOwn) {
    EXPECT_EQ(freeIdPrefix("<p id=\"x\">a</p>"), "ra-s");
    EXPECT_EQ(freeIdPrefix("<p id=\"ra-s1\">a</p>"), "ra1-s");
    EXPECT_EQ(freeIdPrefix("<p id=\"ra-s1\">a</p><p id=\"ra1-s1\">b</p>"), "ra2-s");
}

// A reference from one entry to another, as a reading system resolves it from the first's
// folder, with names a URL cannot hold as they are escaped.
TEST(SentenceSpans, ReferencesBetweenEntries) {
    EXPECT_EQ(referenceBetween("EPUB/content.opf", "EPUB/text/ch001.xhtml"), "text/ch001.xhtml");
    EXPECT_EQ(referenceBetween("EPUB/text/ch001.xhtml", "EPUB/read-along.css"),
              "../read-along.css");
    EXPECT_EQ(referenceBetween("content.opf", "A b/c#d.xhtml"), "A%20b/c%23d.xhtml");
    EXPECT_EQ(referenceBetween("OPS/a/x.smil", "OPS/a/x.mp3"), "x.mp3");
}

} // namespace sentence_spans_test
} // namespace kestrova::speech::read_along
