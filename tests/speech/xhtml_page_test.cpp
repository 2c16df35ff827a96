#include "speech/base/utf8.h"
#include "speech/speech_error.h"
#include "speech/text/readers/html/xhtml_blocks.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "xhtml_blocks_cases.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

std::string xhtml(const std::string& body, const std::string& head = "") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
           "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
           "xmlns:epub=\"http://www.idpf.org/2007/ops\">"
           "<head><title>T</title>" +
           head + "</head><body>" + body + "</body></html>";
}

std::string failureOf(const std::string& bytes, bool html = false) {
    try {
        readPage(bytes, {}, pageNamed("OEBPS/bad.xhtml", html));
    } catch (const FileError& error) {
        return error.what();
    }
    return "(no failure)";
}

TEST(XhtmlPage, RunsArePlacedExactlyInThePage) {
    std::string longText;
    for (int i = 0; i < 900; ++i)
        longText += "wörd" + std::to_string(i) + (i % 7 == 0 ? "\r\n " : " ");
    const std::string body = xhtml("<p>Fish &amp; chips,\r\n  ça va.</p><p>" + longText +
                                   "</p><p xml:lang=\"de\">Zwei <b>Wörter</b> &#33;BC</p>");
    for (const std::string& page : {body, "\xEF\xBB\xBF" + body}) { // with a byte order mark
        const RecordingSink sink = readPage(page);
        ASSERT_EQ(sink.blocks.size(), 3u);
        expectPlacesInPage(sink.blocks, page);
    }
}

TEST(XhtmlPage, ChaptersBeginAtTheirIdsAndAtThePageStart) {
    const std::string page =
        xhtml("<p>Before.</p><h2 id=\"c2\">Second</h2><p>Two.</p>"
              "<p>Three <a id=\"c3\"/>begins here.</p><div>Loose <em>text</em><br/>split</div>");
    XhtmlPage where{.bytes = {},
                    .name = "OEBPS/ch.xhtml",
                    .html = false,
                    .language = {},
                    .chaptersAt = {{"", "One"}, {"c2", "Two"}, {"c3", "Three"}, {"gone", "Lost"}},
                    .headingsAreChapters = false,
                    .noteIds = {}};
    std::vector<std::string> warnings;
    DocumentOptions options;
    options.warning = [&](const std::string& line) {
        warnings.push_back(line);
    };
    const RecordingSink sink = readPage(page, options, where);
    const std::vector<std::string> expected = {"# One",      "Before.", "# Two",   "Second",
                                               "Two.",       "Three",   "# Three", "begins here.",
                                               "Loose text", "split",   "# Lost"};
    EXPECT_EQ(sink.events, expected) << sink.all();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\"gone\""), std::string::npos) << warnings[0];
}

TEST(XhtmlPage, HeadingsBeginChaptersTitledByTheirText) {
    const std::string page = xhtml("<h1>Part One<br/>The <em>Beginning</em></h1><p>Text.</p>"
                                   "<h4>Minor</h4><p>More.</p><h2 id=\"c2\">Two</h2><p>Body</p>");
    XhtmlPage where;
    where.headingsAreChapters = true;
    where.chaptersAt = {{"c2", "Second"}};
    const std::vector<std::string> expected = {"# Part One The Beginning",
                                               "Part One The Beginning",
                                               "Text.",
                                               "Minor",
                                               "More.",
                                               "# Second",
                                               "Two",
                                               "Body"};
    EXPECT_EQ(readPage(page, {}, where).events, expected);
    std::atomic<bool> cancelled{true};
    DocumentOptions options;
    options.cancel = &cancelled;
    EXPECT_THROW(readPage(page, options, where), ConversionCancelled);
}

TEST(XhtmlPage, LeavesOutWhatIsNotReadAndReadsLanguagesAndEntities) {
    const std::string page = xhtml(
        "<nav epub:type=\"toc\"><ol><li><a href=\"c.xhtml\">Contents entry</a></li></ol></nav>"
        "<nav epub:type=\"page-list\"><a href=\"c.xhtml#p1\">1</a></nav>"
        "<script>var x;</script><style>p{}</style><p hidden=\"\">Hidden</p>"
        "<p aria-hidden=\"true\">Also hidden</p><p>Ruby <ruby>漢<rt>かん</rt></ruby>.</p>"
        "<p>Caf&eacute;&nbsp;&nbsp;au&unknown; lait <span xml:lang=\"fr\">merci beaucoup</span> "
        "end "
        "<span epub:type=\"pagebreak\" id=\"p7\">7</span>do&shy;ne.</p>"
        "<p><img src=\"a.png\" alt=\"An owl\"/>Owl.</p>");
    std::vector<std::string> warnings;
    DocumentOptions options;
    options.warning = [&](const std::string& line) {
        warnings.push_back(line);
    };
    const RecordingSink sink = readPage(page, options);
    const std::vector<std::string> expected = {"Ruby 漢.",
                                               "Café\xC2\xA0"
                                               "au lait merci beaucoup end done.",
                                               "Owl."};
    EXPECT_EQ(sink.events, expected) << sink.all();
    EXPECT_EQ(warnings,
              std::vector<std::string>{"\"OEBPS/page.xhtml\": the entity &unknown; is not "
                                       "one of HTML's; it is left out"});
    ASSERT_EQ(sink.blocks[1].runs.size(), 3u);
    EXPECT_EQ(sink.blocks[1].runs[1].text, "merci beaucoup ");
    EXPECT_EQ(sink.blocks[1].runs[1].language, "fr");
    EXPECT_EQ(sink.blocks[1].source, "OEBPS/page.xhtml");
    EXPECT_EQ(readPage(page, reading(true, false)).events.back(), "An owl Owl.");
}

// EPUB 3 marks its notes; EPUB 2 books have only links whose text is a number, whose targets
// the book's other pages name (noteIds).
TEST(XhtmlPage, NotesAreLeftOutUnlessAsked) {
    const std::string page =
        xhtml("<p>Plain<a href=\"notes.xhtml#n2\">[2]</a> and starred<a href=\"#n3\">*</a> and "
              "classed<a class=\"fnref\" href=\"#n6\">a</a> and linked <a "
              "href=\"https://example.org/#x\">3</a>.</p>"
              "<aside epub:type=\"footnote\" id=\"n1\"><p>Aside note.</p></aside>"
              "<p id=\"n3\">Target note.</p>"
              "<p><a id=\"n4\" href=\"#r4\">4</a> Labelled note.</p>"
              "<p><a id=\"n5\" href=\"#r5\">5.</a> Dotted note.</p>"
              "<div class=\"footnotes\"><p>Classed note.</p></div>"
              "<div id=\"c9\"><h2>Nine</h2><p>A chapter a number links to.</p></div>");
    XhtmlPage where;
    where.noteIds = {"n3", "n4", "n5", "c9"};
    const IdsByPage bookNotes = {{"OEBPS/notes.xhtml", {"n2"}}, {"OEBPS/page.xhtml", {"n3"}}};
    where.bookNotes = [&]() -> const IdsByPage& {
        return bookNotes;
    };
    const RecordingSink quiet = readPage(page, {}, where);
    const std::vector<std::string> expected = {"Plain and starred and classed and linked 3.",
                                               "Nine", "A chapter a number links to."};
    EXPECT_EQ(quiet.events, expected) << quiet.all();
    const std::string all = readPage(page, reading(false, true), where).all();
    for (const char* kept : {"Plain[2] and starred* and classeda", "Aside note.", "Target note.",
                             "4 Labelled note.", "5. Dotted note.", "Classed note."})
        EXPECT_NE(all.find(kept), std::string::npos) << kept << "\n" << all;
    // A page that marks its references has its other links read.
    const std::string marked = xhtml("<p>Marked<a epub:type=\"noteref\" href=\"#n1\">1</a>, "
                                     "see part <a href=\"#p3\">3</a>.</p>");
    EXPECT_EQ(readPage(marked).events, std::vector<std::string>{"Marked, see part 3."});
}

TEST(XhtmlPage, NoteTargetsAreResolvedAgainstThePage) {
    const std::string page =
        xhtml("<p>A<a href=\"../notes/n.xhtml#fn1\">1</a> B<a href=\"#fn%202\">(2)</a> C<a "
              "class=\"footnote-link\" href=\"n.xhtml#x\">see</a> D<a href=\"ch2.xhtml#top\">Next "
              "chapter</a> E<a href=\"../../../out.xhtml#a\">3</a></p>"
              "<aside epub:type=\"footnote\"><a href=\"#back\">1</a></aside>"
              "<p><em><a href=\"#lead\">4</a></em> A label leading back.</p>");
    XhtmlPage where = pageNamed("OEBPS/text/ch1.xhtml");
    where.bytes = page;
    const auto targets = noteTargetsOf(where);
    const std::set<std::pair<std::string, std::string>> expected = {
        {"OEBPS/notes/n.xhtml", "fn1"},
        {"OEBPS/text/ch1.xhtml", "fn 2"},
        {"OEBPS/text/n.xhtml", "x"}};
    EXPECT_EQ(targets, expected);
}

TEST(XhtmlPage, TableRowsAndListsAreBlocksInOrder) {
    const std::string page =
        xhtml("<table><tr><th>Day</th><th>Plan.</th><th>Note</th></tr>"
              "<tr><td>Monday</td><td>Work</td><td/></tr></table>"
              "<dl><dt>Term</dt><dd>Meaning</dd></dl><ol><li>One<ul><li>Inner</li></ul></li></ol>"
              "<blockquote><p>Quoted.</p></blockquote>");
    const std::vector<std::string> expected = {
        "Day, Plan. Note", "Monday, Work", "Term", "Meaning", "One", "Inner", "Quoted."};
    EXPECT_EQ(readPage(page).events, expected);
}

TEST(XhtmlPage, HostilePagesAreRefusedNamingThePage) {
    const std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE html [<!ENTITY a \"aaaa\">"
                               "<!ENTITY b \"&a;&a;&a;&a;\">]><html><body><p>&b;</p></body></html>";
    EXPECT_EQ(failureOf(laughs),
              "OEBPS/bad.xhtml:1: entity \"a\" is declared; entities are not read");
    const std::string external = "<?xml version=\"1.0\"?>\n<!DOCTYPE html SYSTEM "
                                 "\"file:///etc/passwd\"><html><body><p>&x;</p></body></html>";
    EXPECT_EQ(failureOf(external), "OEBPS/bad.xhtml:2: the page names the external DTD "
                                   "\"file:///etc/passwd\", which is not read");
    // XHTML's own DTD, wherever the book says it lies, is not read either, and not refused.
    const std::string xhtmlDtd = "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                                 "\"dtd/xhtml11.dtd\"><html><body><p>Fine</p></body></html>";
    EXPECT_EQ(readPage(xhtmlDtd).events, std::vector<std::string>{"Fine"});
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<div>";
    for (const bool html : {false, true})
        EXPECT_NE(failureOf("<html><body>" + deep, html)
                      .find("OEBPS/bad.xhtml:1: the markup is nested deeper than 200 elements"),
                  std::string::npos)
            << html;
    const std::string huge = xhtml("<p>" + std::string(17u << 20, 'a') + "</p>");
    EXPECT_EQ(failureOf(huge), "OEBPS/bad.xhtml: the page is larger than 16 MiB");
    // A malformed page that declares an entity is refused for the entity, not read as HTML.
    EXPECT_EQ(failureOf("<?xml version=\"1.0\"?><!DOCTYPE html [<!ENTITY a \"INJECTED\">]>"
                        "<html><body><p>&a;</div></body></html>"),
              "OEBPS/bad.xhtml:1: entity \"a\" is declared; entities are not read");
    EXPECT_EQ(failureOf("  \n"), "OEBPS/bad.xhtml:1: the page is empty");
    const std::string parameter = "<?xml version=\"1.0\"?><!DOCTYPE html [<!ENTITY % ext SYSTEM "
                                  "\"file:///etc/passwd\"> %ext;]><html/>";
    EXPECT_EQ(failureOf(parameter),
              "OEBPS/bad.xhtml:1: entity \"ext\" is declared; entities are not read");
}

// The HTML parser knows HTML's own entities only, and reads a page in the encoding it names.
TEST(HtmlPage, ReadsNoDeclaredEntityAndConvertsOtherEncodings) {
    const std::string declared = "<!DOCTYPE html [<!ENTITY x \"INJECTED\">]><html><body><p>a &x; "
                                 "&eacute;</p></body></html>";
    const std::string read = readPage(declared, {}, pageNamed("page.html", true)).all();
    EXPECT_EQ(read.find("INJECTED"), std::string::npos) << read;
    EXPECT_NE(read.find("a &x; é"), std::string::npos) << read;
    const RecordingSink latin =
        readPage("<html><head><meta charset=\"iso-8859-1\"></head><body><p>caf\xE9 "
                 "cr\xE8me</p></body></html>",
                 {}, pageNamed("page.html", true));
    ASSERT_EQ(latin.events, std::vector<std::string>{"café crème"});
}

// The page byte a run's byte at stands at, as the run's places say.
std::uint64_t placeOf(const DocumentRun& run, std::size_t at) {
    std::size_t k = 0;
    while (k + 1 < run.sourceBytes.size() && run.sourceBytes[k + 1].first <= at)
        ++k;
    return run.sourceBytes.at(k).second + (at - run.sourceBytes.at(k).first);
}

// A page that declares Latin-1 is placed in its own bytes: one in ASCII (valid UTF-8) as it
// stands, one with Latin-1's letters a byte for each character, both bytes of the character's
// UTF-8 there, so that a sentence ending in one ends after it.
TEST(XhtmlPage, PagesDeclaringLatin1ArePlacedInTheirBytes) {
    const std::string xmlDeclared = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<html "
                                    "xmlns=\"http://www.w3.org/1999/xhtml\"><body>";
    const std::string meta = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                             "charset=iso-8859-1\"></head><body>";
    for (const bool html : {false, true}) {
        SCOPED_TRACE(html);
        const std::string head = html ? meta : xmlDeclared;
        const std::string ascii = head + "<p>Plain words &amp; more.</p></body></html>";
        const RecordingSink plain = readPage(ascii, {}, pageNamed("p.xhtml", html));
        expectPlacesInPage(plain.blocks, ascii);
        const std::string latin1 =
            head + "<p>\xC9t\xE9 au caf\xE9.</p><p>Na\xEFve &#233; caf\xE9</p></body></html>";
        const RecordingSink read = readPage(latin1, {}, pageNamed("p.xhtml", html));
        ASSERT_EQ(read.events, (std::vector<std::string>{"Été au café.", "Naïve é café"}));
        for (const DocumentBlock& block : read.blocks) {
            const DocumentRun& run = block.runs.at(0);
            for (std::size_t at = 0; at < run.text.size();) {
                const CodePoint character = codePointAt(std::string_view(run.text).substr(at));
                const std::uint64_t place = placeOf(run, at);
                ASSERT_LT(place, latin1.size());
                if (std::isalpha(character.value) != 0 || character.value >= 0x80) {
                    const auto byte = static_cast<unsigned char>(latin1[place]);
                    if (latin1[place] == '&') { // a character reference, placed at its "&"
                        at += character.length;
                        continue;
                    }
                    EXPECT_EQ(byte, character.value) << run.text << " at " << at;
                    EXPECT_EQ(placeOf(run, at + character.length - 1), place);
                }
                at += character.length;
            }
        }
    }
}

TEST(HtmlFile, FailuresNameTheFile) {
    test::ScratchDir scratch;
    try {
        openHtml(scratch / "missing.html", {});
        ADD_FAILURE() << "opened a missing file";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("missing.html"), std::string::npos);
    }
    test::writeBytes(scratch / "bad.xhtml",
                     "<!DOCTYPE html [<!ENTITY a \"b\">]><html><body><p>&a;</p></body></html>");
    try {
        openHtml(scratch / "bad.xhtml", {});
        ADD_FAILURE() << "read an XHTML file that declares an entity";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("bad.xhtml\": line 1: entity \"a\" is declared"),
                  std::string::npos)
            << error.what();
    }
}

} // namespace
} // namespace kestrova::speech
