// What a page's links whose text is a number and its page and line numbers read as: a link is
// a note's reference only when it leads to a note; a printed edition's page and line numbers
// are left out, and the words around them join as they stand.

#include "xhtml_blocks_cases.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace xhtml_marks_test {

std::string xhtml(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
           "xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>T</title></head><body>" +
           body + "</body></html>";
}

// A page that marks none of its references, as public-domain editions and EPUB 2 books write
// them: links to pages, a heading, an empty anchor, a page break and a paragraph read as
// their numbers; those to a note's text, a note's label and a marked note are references.
const std::string unmarkedPage = xhtml(
    R"(<p>For the comparison (see page <a href="#Page_82">82</a>), I select the bands.</p>
<p>Addison, <a href="#Page_82">82</a>, <a href="#page83">83</a>, <a href="#pg84">84</a>, <a href="#p85">85</a>, <a href="#Page_iv">iv</a>.</p>
<p>Chapter <a href="#c3">3</a>, a note<a href="#fn3">3</a>, a label<a href="#n4">[4]</a>, a mark<a href="#m5">*</a>, elsewhere <a href="other.xhtml#fn9">9</a>, an edition's<a href="#Footnote_1_1" class="fnanchor">[1]</a>.</p>
<h2 id="c3">Three</h2>
<p>It was in<span class="pagenum"><a id="Page_82">[Pg 82]</a></span> one variation.</p>
<p>Text<a id="page83"></a> more<span id="pg84"></span> and<span epub:type="pagebreak" id="p85" title="85"/> end<a id="Page_iv">iv</a>.</p>
<p id="fn3">3. The note text.</p>
<p><a id="n4" href="#r4">4</a> Labelled note.</p>
<aside epub:type="footnote" id="m5"><p>Marked note.</p></aside>
<div class="footnote"><p><a id="Footnote_1_1"></a><a href="#FNanchor_1_1"><span class="label">[1]</span></a> An edition's note.</p></div>)");

TEST(XhtmlNumberLinks, AreNoteReferencesOnlyWhenTheyLeadToANote) {
    const RecordingSink quiet = readPage(unmarkedPage);
    const std::vector<std::string> expected = {
        "For the comparison (see page 82), I select the bands.",
        "Addison, 82, 83, 84, 85, iv.",
        "Chapter 3, a note, a label, a mark, elsewhere 9, an edition's.",
        "Three",
        "It was in one variation.",
        "Text more and endiv.",
        "3. The note text.",
        "4 Labelled note."};
    EXPECT_EQ(quiet.events, expected) << quiet.all();
    expectPlacesInPage(quiet.blocks, unmarkedPage);
    const RecordingSink notes = readPage(unmarkedPage, reading(false, true));
    EXPECT_EQ(notes.events.at(2),
              "Chapter 3, a note3, a label[4], a mark*, elsewhere 9, an edition's[1].");
}

// The first pass keeps of a page's number links' targets those that may be notes.
TEST(XhtmlNumberLinks, NoteBodiesAreTheTargetsThatMayBeNotes) {
    XhtmlPage where = pageNamed("OEBPS/page.xhtml");
    where.bytes = unmarkedPage;
    const PageNotes notes = notesOf(where);
    EXPECT_TRUE(notes.targets.contains({"OEBPS/page.xhtml", "Page_82"}));
    EXPECT_TRUE(notes.targets.contains({"OEBPS/other.xhtml", "fn9"}));
    const IdsByPage bodies =
        noteBodies({{"OEBPS/page.xhtml", {"Page_82", "page83", "pg84", "p85", "c3", "fn3", "n4"}},
                    {"OEBPS/other.xhtml", {"fn9"}}},
                   {{"OEBPS/page.xhtml", notes.noteLikeIds}});
    EXPECT_EQ(bodies, (IdsByPage{{"OEBPS/page.xhtml", {"fn3", "n4"}}}));
}

TEST(XhtmlPageNumbers, AreLeftOutByTheirClassesAndRolesAndTheWordsJoin) {
    for (const std::string marker :
         {"<span class=\"pagenum\"><a id=\"Page_32\">[Pg 32]</a></span>",
          "<span class=\"right pageno\" id=\"Page_32\">32</span>",
          "<span class=\"page-number\" id=\"Page_32\">32</span>",
          "<span class=\"PageNumber\" id=\"Page_32\">32</span>",
          "<span class=\"linenum\" id=\"Page_32\">32</span>",
          "<span class=\"lnum\" id=\"Page_32\">32</span>",
          "<span class=\"linenumber\" id=\"Page_32\">32</span>",
          "<span role=\"doc-pagebreak\" id=\"Page_32\" aria-label=\"32\">32</span>",
          "<span epub:type=\"pagebreak\" id=\"Page_32\">32</span>"}) {
        SCOPED_TRACE(marker);
        const std::string text =
            xhtml("<p>It was in" + marker + " one variation.</p><p>In the Hofgarten," + marker +
                  "\nwe sat.</p>");
        const RecordingSink sink = readPage(text);
        EXPECT_EQ(sink.events, (std::vector<std::string>{"It was in one variation.",
                                                         "In the Hofgarten, we sat."}))
            << sink.all();
        expectPlacesInPage(sink.blocks, text);
        // Not even asked for: a page number is not the book's text.
        EXPECT_EQ(readPage(text, reading(true, true)).events, sink.events);
        // A chapter the table begins at the marker's id still begins there.
        XhtmlPage where;
        where.chaptersAt = {{"Page_32", "Later"}};
        EXPECT_EQ(readPage(text, {}, where).events.at(1), "# Later");
    }
}

} // namespace xhtml_marks_test
} // namespace kestrova::speech
