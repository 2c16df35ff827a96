// EPUB books read through openEpub: books pandoc makes (EPUB 3 and 2) and books built here
// with python3's zipfile, for chapters at anchors, chapters across files and the refusals.

#include "epub_document_cases.h"
#include "speech/speech_error.h"
#include "speech/text/readers/document.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

constexpr const char* pngWriter = R"(import sys, zlib, struct
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0))
    + chunk(b"IDAT", zlib.compress(b"\x00\xff\x00\x00")) + chunk(b"IEND", b""))
)";

constexpr const char* pandocSource = R"(---
title: The Test Book
author: Ada Writer
lang: de
date: 2020-01-02
---

# First Chapter

One paragraph.[^1]

## A section

More text.

# Second Chapter

Two paragraph.

[^1]: The note text.
)";

// Pandoc's books, EPUB 3 with a navigation document and EPUB 2 with an NCX: the metadata and
// cover as the package gives them, the chapters as the table of contents lists them (every
// level, in its order), the text in order and the footnote left out.
TEST(EpubDocument, ReadsPandocBooksWithTheirTableOfContentsMetadataAndCover) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.md", pandocSource);
    ASSERT_EQ(test::runProgram("/usr/bin/python3", {"-c", pngWriter, "cover.png"}, scratch.path())
                  .exitStatus(),
              0);
    const std::vector<std::pair<std::string, std::vector<std::string>>> kinds{
        {"epub3", {"First Chapter", "A section", "Second Chapter"}},
        {"epub2", {"The Test Book", "First Chapter", "A section", "Second Chapter"}}};
    for (const auto& [kind, chapters] : kinds) {
        SCOPED_TRACE(kind);
        const test::Outcome made = test::runProgram(
            "/usr/bin/pandoc",
            {"-t", kind, "--epub-cover-image=cover.png", "-o", kind + ".epub", "in.md"},
            scratch.path());
        ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
        const auto document = openEpub(scratch / (kind + ".epub"), {});
        const DocumentMetadata& metadata = document->metadata();
        EXPECT_EQ(metadata.title, "The Test Book");
        EXPECT_EQ(metadata.author, "Ada Writer");
        EXPECT_EQ(metadata.language, "de");
        EXPECT_EQ(metadata.date, "2020-01-02");
        EXPECT_EQ(metadata.coverType, "image/png");
        EXPECT_EQ(metadata.coverBytes, test::readBytes(scratch / "cover.png"));

        RecordingSink sink;
        document->read(sink);
        EXPECT_EQ(chaptersOf(sink.lines), chapters);
        const std::string text = joined(sink.lines);
        const std::size_t one = text.find("One paragraph.");
        const std::size_t more = text.find("More text.");
        const std::size_t two = text.find("Two paragraph.");
        EXPECT_TRUE(one < more && more < two && two != std::string::npos) << text;
        EXPECT_EQ(text.find("The note text"), std::string::npos) << text;
        EXPECT_LT(text.find("# Second Chapter"), two);
        // A second reading gives the same.
        RecordingSink again;
        document->read(again);
        EXPECT_EQ(again.lines, sink.lines);
    }
}

// Two chapters at anchors of one file, the second running on into the next file (which the
// table does not name) and a third in a file with a percent-encoded name; the navigation
// document in a folder of its own; two entries at one place make one chapter. A linear="no"
// page is read only when the table names it (the last one), not otherwise (the aside); and
// entries named like paths outside the book stay names inside it.
TEST(EpubDocument, PlacesChaptersAtAnchorsAndAcrossFiles) {
    test::ScratchDir scratch;
    fs::create_directory(scratch / "inside");
    const std::string nav = page(R"(<nav epub:type="toc"><ol>
<li><a href="../text/a.xhtml#c1">One</a><ol><li><a href="../text/a.xhtml#c1">Begun</a></li></ol></li>
<li><a href="../text/a.xhtml#c2">Two</a></li>
<li><a href="../text/part%20three.xhtml">Three</a></li>
<li><a href="../text/extra.xhtml">Extra</a></li></ol></nav>)");
    const std::string items =
        R"(<item id="nav" href="nav/nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="a" href="text/a.xhtml" media-type="application/xhtml+xml"/>
<item id="b" href="text/b.xhtml" media-type="application/xhtml+xml"/>
<item id="aside" href="text/aside.xhtml" media-type="application/xhtml+xml"/>
<item id="c" href="text/part%20three.xhtml" media-type="application/xhtml+xml"/>
<item id="x" href="text/extra.xhtml" media-type="application/xhtml+xml"/>)";
    const std::string spine =
        R"(<itemref idref="a"/><itemref idref="b"/><itemref idref="aside" linear="no"/><itemref idref="c"/><itemref idref="x" linear="no"/>)";
    const fs::path file = writeZip(
        scratch, "inside/anchors.epub",
        book(package(items, spine),
             {{.name = "OPS/nav/nav.xhtml", .bytes = nav},
              {.name = "OPS/text/a.xhtml", .bytes = page(R"(<h1 id="c1">One</h1><p>First text.</p>
<section id="c2"><h1>Two</h1><p>Second text.</p></section>)")},
              {.name = "OPS/text/b.xhtml", .bytes = page("<p>Still the second.</p>")},
              {.name = "OPS/text/aside.xhtml", .bytes = page("<p>Aside text.</p>")},
              {.name = "OPS/text/part three.xhtml",
               .bytes = page("<h1>Three</h1><p>Third text.</p>")},
              {.name = "OPS/text/extra.xhtml", .bytes = page("<p>Extra text.</p>")},
              {.name = "../escaped.xhtml", .bytes = page("<p>x</p>")},
              {.name = "/absolute.xhtml", .bytes = page("<p>x</p>")}}));
    const auto before = test::snapshot(scratch.path());
    const std::vector<std::string> lines = readAll(file);
    const std::vector<std::string> expected{
        "# One: Begun",      "One",     "First text.", "# Two",       "Two",     "Second text.",
        "Still the second.", "# Three", "Three",       "Third text.", "# Extra", "Extra text."};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(test::snapshot(scratch.path()), before);
}

// Without a usable table of contents (here one the parser cannot read, which is passed over
// with a warning), each page's headings begin its chapters.
TEST(EpubDocument, TakesChaptersFromHeadingsWithoutAUsableTableOfContents) {
    test::ScratchDir scratch;
    const fs::path file = writeZip(
        scratch, "plain.epub",
        book(package(R"(<item id="a" href="a.xhtml" media-type="application/xhtml+xml"/>
<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="b" href="b.xhtml" media-type="application/xhtml+xml"/>)",
                     R"(<itemref idref="a"/><itemref idref="b"/>)"),
             {{.name = "OPS/a.xhtml", .bytes = page("<h1>Alpha</h1><p>A.</p>")},
              {.name = "OPS/nav.xhtml", .bytes = "<html><nav epub:type='toc'><a href='a.xhtml'>"},
              {.name = "OPS/b.xhtml", .bytes = page("<h2>Beta</h2><p>B.</p>")}}));
    std::vector<std::string> warnings;
    DocumentOptions options;
    options.warning = [&](const std::string& warning) {
        warnings.push_back(warning);
    };
    EXPECT_EQ(chaptersOf(readAll(file, options)), (std::vector<std::string>{"Alpha", "Beta"}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].starts_with(
        "\"" + file.string() + "\": the table of contents \"OPS/nav.xhtml\" is left out: "))
        << warnings[0];
}

// EPUB 2 marks no notes: a note body in another page is known only as the target of a link
// whose text is a number, found in a first pass over the book. Left out unless asked for.
TEST(EpubDocument, LeavesOutEpub2NotesFoundThroughTheirReferences) {
    test::ScratchDir scratch;
    std::string packageXml =
        package(R"(<item id="a" href="a.xhtml" media-type="application/xhtml+xml"/>
<item id="n" href="notes/n.xhtml" media-type="application/xhtml+xml"/>)",
                R"(<itemref idref="a"/><itemref idref="n"/>)");
    packageXml.replace(packageXml.find("version=\"3.0\""), 13, "version=\"2.0\"");
    const fs::path file = writeZip(
        scratch, "notes.epub",
        book(packageXml, {{.name = "OPS/a.xhtml",
                           .bytes = page(R"(<p>A claim<a href="notes/n.xhtml#n1">1</a>.</p>)")},
                          {.name = "OPS/notes/n.xhtml",
                           .bytes = page(R"(<p>Kept text.</p><p id="n1">The note body.</p>)")}}));
    const std::string text = joined(readAll(file));
    EXPECT_NE(text.find("Kept text."), std::string::npos) << text;
    EXPECT_EQ(text.find("note body"), std::string::npos) << text;
    DocumentOptions withNotes;
    withNotes.readNotes = true;
    EXPECT_NE(joined(readAll(file, withNotes)).find("The note body."), std::string::npos);
}
// Chapters follow the table's order as kept: an entry whose page the book does not hold is
// told of and left out, one whose pages hold nothing to read (a title page of one image) is no
// chapter either, and neither is counted; a chapter whose first page is only an image begins
// with the text of the next.
TEST(EpubDocument, CountsOnlyTheChaptersThatHaveTextToRead) {
    const std::string nav = page(R"(<nav epub:type="toc"><ol>
<li><a href="title.xhtml">Title Page</a></li><li><a href="gone.xhtml#x">Gone</a></li>
<li><a href="one.xhtml">One</a></li><li><a href="two.xhtml">Two</a></li></ol></nav>)");
    const std::string items =
        R"(<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="t" href="title.xhtml" media-type="application/xhtml+xml"/>
<item id="a" href="one.xhtml" media-type="application/xhtml+xml"/>
<item id="b" href="two.xhtml" media-type="application/xhtml+xml"/>
<item id="c" href="two-text.xhtml" media-type="application/xhtml+xml"/>)";
    test::ScratchDir scratch;
    const fs::path file = writeZip(
        scratch, "numbered.epub",
        book(package(items, R"(<itemref idref="t"/><itemref idref="a"/><itemref idref="b"/>
<itemref idref="c"/>)"),
             {{.name = "OPS/nav.xhtml", .bytes = nav},
              {.name = "OPS/title.xhtml",
               .bytes = page(R"(<div><img src="c.png" alt="Cover"/></div>)")},
              {.name = "OPS/one.xhtml", .bytes = page("<p>First text.</p>")},
              {.name = "OPS/two.xhtml", .bytes = page(R"(<img src="p.png" alt="Plate"/>)")},
              {.name = "OPS/two-text.xhtml", .bytes = page("<p>Second text.</p>")}}));
    std::vector<std::string> warnings;
    DocumentOptions options;
    options.warning = [&](const std::string& warning) {
        warnings.push_back(warning);
    };
    EXPECT_EQ(readAll(file, options),
              (std::vector<std::string>{"# One", "First text.", "# Two", "Second text."}));
    EXPECT_EQ(warnings, std::vector<std::string>{
                            "\"" + file.string() +
                            "\": \"OPS/gone.xhtml\": the book does not hold it, where the chapter "
                            "\"Gone\" begins; the chapter is left out"});
    DocumentOptions withAlt;
    withAlt.readAlt = true;
    EXPECT_EQ(chaptersOf(readAll(file, withAlt)),
              (std::vector<std::string>{"Title Page", "One", "Two"}));
}

// A link whose text is a number is a note's reference only when it leads to a note, on any
// page: the index's and the text's links to pages are read as their numbers, in EPUB 2 and
// EPUB 3 alike; an EPUB 2 book's note, known by what leads to it, is left out.
TEST(EpubDocument, ReadsNumberLinksToPagesAndLeavesOutThoseToNotes) {
    const std::string items = R"(<item id="a" href="a.xhtml" media-type="application/xhtml+xml"/>
<item id="n" href="notes/n.xhtml" media-type="application/xhtml+xml"/>
<item id="i" href="index.xhtml" media-type="application/xhtml+xml"/>)";
    const std::vector<Entry> pages = {
        {.name = "OPS/a.xhtml",
         .bytes = page(
             R"(<p>A claim<a href="notes/n.xhtml#fn3">3</a> (see page <a href="#Page_2">2</a>).</p>
<p>It was in<span class="pagenum"><a id="Page_2">[Pg 2]</a></span> one variation.</p>)")},
        {.name = "OPS/notes/n.xhtml",
         .bytes = page(
             R"(<h2 id="s4">Notes</h2><p id="fn3">3. The note body.</p>
<p>Back to <a href="../a.xhtml#Page_2">2</a>.</p>)")},
        {.name = "OPS/index.xhtml",
         .bytes = page(
             R"(<p>Addison, <a href="a.xhtml#Page_2">2</a>, <a href="notes/n.xhtml#s4">4</a></p>)")}};
    for (const char* version : {"2.0", "3.0"}) {
        SCOPED_TRACE(version);
        std::string packageXml = package(items, R"(<itemref idref="a"/><itemref idref="n"/>
<itemref idref="i"/>)");
        packageXml.replace(packageXml.find("version=\"3.0\""), 13,
                           std::string("version=\"") + version + "\"");
        test::ScratchDir scratch;
        const fs::path file = writeZip(scratch, "links.epub", book(packageXml, pages));
        // Without a table of contents, the heading begins a chapter.
        std::vector<std::string> expected = {"A claim (see page 2).",
                                             "It was in one variation.",
                                             "# Notes",
                                             "Notes",
                                             "3. The note body.",
                                             "Back to 2.",
                                             "Addison, 2, 4"};
        if (std::string_view(version) == "2.0")
            expected.erase(expected.begin() + 4);
        EXPECT_EQ(readAll(file), expected);
        DocumentOptions withNotes;
        withNotes.readNotes = true;
        EXPECT_EQ(readAll(file, withNotes).front(), "A claim3 (see page 2).");
    }
}
} // namespace
} // namespace kestrova::speech
