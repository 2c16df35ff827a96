// EPUB books read through openEpub: books pandoc makes (EPUB 3 and 2) and books built here
// with python3's zipfile, for chapters at anchors, chapters across files and the refusals.

#include "speech/speech_error.h"
#include "speech/text/readers/document.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

namespace fs = std::filesystem;

// Writes a ZIP archive: each entry "NAME METHOD SOURCE SIZE", SOURCE a file or zeros:N, SIZE
// "-" or a size to declare in both headers instead of the true one (a forged entry).
constexpr const char* zipWriter = R"(import sys, zipfile, struct
out, fields = sys.argv[1], sys.argv[2:]
forged = {}
with zipfile.ZipFile(out, "w") as z:
    for name, method, source, size in zip(*[iter(fields)] * 4):
        data = bytes(int(source[6:])) if source.startswith("zeros:") else open(source, "rb").read()
        kind = zipfile.ZIP_DEFLATED if method == "deflated" else zipfile.ZIP_STORED
        z.writestr(zipfile.ZipInfo(name), data, compress_type=kind)
        if size != "-":
            forged[name.encode()] = int(size)
data = bytearray(open(out, "rb").read())
at = 0
while forged and (at := data.find(b"PK\x01\x02", at)) >= 0:
    length, offset = struct.unpack_from("<H", data, at + 28)[0], struct.unpack_from("<I", data, at + 42)[0]
    name = bytes(data[at + 46:at + 46 + length])
    if name in forged:
        struct.pack_into("<I", data, at + 24, forged[name])
        struct.pack_into("<I", data, offset + 22, forged[name])
    at += 46
open(out, "wb").write(data)
)";

struct Entry {
    std::string name;
    std::string bytes; // "zeros:N" for N zero bytes made by the writer
    bool deflated = true;
    std::string declaredSize = "-";
};

fs::path writeZip(const test::ScratchDir& scratch, const std::string& name,
                  const std::vector<Entry>& entries) {
    std::vector<std::string> arguments{"-c", zipWriter, (scratch / name).string()};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string source = entries[i].bytes;
        if (!source.starts_with("zeros:")) {
            source = (scratch / ("part" + std::to_string(i))).string();
            test::writeBytes(source, entries[i].bytes);
        }
        arguments.insert(arguments.end(),
                         {entries[i].name, entries[i].deflated ? "deflated" : "stored", source,
                          entries[i].declaredSize});
    }
    const test::Outcome outcome = test::runProgram("/usr/bin/python3", arguments, scratch.path());
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    return scratch / name;
}

std::string page(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops"><head><title>t</title></head><body>)" +
           body + "</body></html>";
}

const std::string container = R"(<?xml version="1.0"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
<rootfiles><rootfile full-path="OPS/book.opf" media-type="application/oebps-package+xml"/></rootfiles>
</container>)";

// A package in OPS/ with these manifest items and spine references.
std::string package(const std::string& items, const std::string& spine) {
    return R"(<?xml version="1.0"?>
<package version="3.0" xmlns="http://www.idpf.org/2007/opf">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>Built</dc:title>
<dc:language>en</dc:language></metadata>
<manifest>)" +
           items + "</manifest><spine>" + spine + "</spine></package>";
}

// A small well-formed book whose pages, package and extra entries the case chooses.
std::vector<Entry> book(const std::string& packageXml, std::vector<Entry> pages) {
    std::vector<Entry> entries{
        {.name = "mimetype", .bytes = "application/epub+zip", .deflated = false},
        {.name = "META-INF/container.xml", .bytes = container},
        {.name = "OPS/book.opf", .bytes = packageXml}};
    entries.insert(entries.end(), pages.begin(), pages.end());
    return entries;
}

// What a reading gives, one line each: "# title" for a chapter, the text for a block.
class RecordingSink : public DocumentSink {
public:
    void chapter(std::string title) override { lines.push_back("# " + title); }
    void block(DocumentBlock block) override {
        std::string text;
        for (const DocumentRun& run : block.runs)
            text += run.text;
        lines.push_back(text);
    }
    std::vector<std::string> lines;
};

std::vector<std::string> readAll(const fs::path& file, DocumentOptions options = {}) {
    RecordingSink sink;
    openEpub(file, options)->read(sink);
    return sink.lines;
}

std::vector<std::string> chaptersOf(const std::vector<std::string>& lines) {
    std::vector<std::string> chapters;
    for (const std::string& line : lines)
        if (line.starts_with("# "))
            chapters.push_back(line.substr(2));
    return chapters;
}

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

const std::string onePage =
    package(R"(<item id="a" href="a.xhtml" media-type="application/xhtml+xml"/>)",
            R"(<itemref idref="a"/>)");

std::string encryption(const std::string& algorithm, const std::string& uri) {
    return R"(<encryption xmlns="urn:oasis:names:tc:opendocument:xmlns:container"
 xmlns:enc="http://www.w3.org/2001/04/xmlenc#"><enc:EncryptedData>
<enc:EncryptionMethod Algorithm=")" +
           algorithm + R"("/><enc:CipherData><enc:CipherReference URI=")" + uri +
           R"("/></enc:CipherData></enc:EncryptedData></encryption>)";
}

struct BadBook {
    std::string name;
    std::vector<Entry> entries;
    std::vector<std::string> said; // what the one line of the refusal holds
};

// Each bad book is refused when it is opened, in one line naming the book, the entry and the
// reason; a bomb or an oversized page before any of it is inflated.
TEST(EpubDocument, RefusesBadBooksNamingTheEntryAndTheReason) {
    const Entry firstPage{.name = "OPS/a.xhtml", .bytes = page("<p>Text.</p>")};
    std::vector<Entry> withoutMimetype = book(onePage, {firstPage});
    withoutMimetype.erase(withoutMimetype.begin());
    std::vector<Entry> otherMimetype = book(onePage, {firstPage});
    otherMimetype.front().bytes = "application/zip";
    std::vector<Entry> withoutContainer = book(onePage, {firstPage});
    withoutContainer.erase(withoutContainer.begin() + 1);
    std::vector<Entry> largeMimetype = book(onePage, {firstPage});
    largeMimetype.front().bytes += std::string(5000, ' ');
    const std::string longName(10000, 'x');
    const std::vector<BadBook> books{
        {"no-mimetype.epub", withoutMimetype, {"no \"mimetype\" entry"}},
        {"other-mimetype.epub",
         otherMimetype,
         {"\"mimetype\": it does not say application/epub+zip"}},
        {"no-container.epub", withoutContainer, {"\"META-INF/container.xml\": no such entry"}},
        {"missing-page.epub",
         book(onePage, {}),
         {"\"OPS/a.xhtml\": the spine lists it, but the book does not hold it"}},
        {"bomb.epub",
         book(onePage, {{.name = "OPS/a.xhtml", .bytes = "zeros:10485760"}}),
         {"\"OPS/a.xhtml\": it would expand more than 100 times (a ZIP bomb)"}},
        {"too-large.epub",
         book(onePage, {{.name = "OPS/a.xhtml",
                         .bytes = page("<p>Text.</p>"),
                         .deflated = false,
                         .declaredSize = "68157440"}}),
         {"\"OPS/a.xhtml\": it is larger than 64 MiB"}},
        {"encrypted.epub",
         book(onePage, {firstPage,
                        {.name = "META-INF/encryption.xml",
                         .bytes = encryption("http://www.w3.org/2001/04/xmlenc#aes256-cbc",
                                             "OPS/a.xhtml")}}),
         {"\"OPS/a.xhtml\": it is encrypted (DRM)"}},
        {"entity.epub",
         book("<!DOCTYPE package [<!ENTITY boom \"x\">]>" + onePage, {firstPage}),
         {"\"OPS/book.opf\": entity \"boom\" is declared"}},
        {"no-spine.epub",
         book(package("", ""), {firstPage}),
         {"\"OPS/book.opf\": the spine lists no pages"}},
        {"large-mimetype.epub",
         largeMimetype,
         {"\"mimetype\": it is larger than 1024 bytes (5020 bytes declared)"}},
        {"twice.epub",
         book(onePage, {firstPage, firstPage}),
         {"two of its entries are named \"OPS/a.xhtml\""}},
        {"long-name.epub",
         book(package("<item id=\"a\" href=\"" + longName +
                          "\" media-type=\"application/xhtml+xml\"/>",
                      "<itemref idref=\"a\"/>"),
              {}),
         {"\"OPS/xxxx", "xxxx...xxxx", "xxx\": the spine lists it, but the book does not hold it"}},
    };
    test::ScratchDir scratch;
    for (const BadBook& bad : books) {
        SCOPED_TRACE(bad.name);
        const fs::path file = writeZip(scratch, bad.name, bad.entries);
        try {
            openEpub(file, {});
            ADD_FAILURE() << "opened";
        } catch (const FileError& error) {
            const std::string message = error.what();
            EXPECT_TRUE(message.starts_with("cannot read the book \"" + file.string() + "\": "))
                << message;
            for (const std::string& words : bad.said)
                EXPECT_NE(message.find(words), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos);
            EXPECT_LT(message.size(), 400u); // an entry's name is cut as a value is
        }
    }
    // Not an archive, or not a file at all (a FIFO would block the opening).
    test::writeBytes(scratch / "text.epub", "This is no archive.");
    fs::create_directory(scratch / "folder.epub");
    for (const auto& [name, reason] : {std::pair{"text.epub", "it is not a ZIP archive"},
                                       std::pair{"folder.epub", "it is not a regular file"}}) {
        try {
            openEpub(scratch / name, {});
            ADD_FAILURE() << name << " opened";
        } catch (const FileError& error) {
            EXPECT_EQ(error.what(),
                      "cannot read the book \"" + (scratch / name).string() + "\": " + reason);
        }
    }
}

// A page whose data runs on past its declared size is refused as it is read, without
// holding more than the size it declared; obfuscated fonts are no DRM. A malformed page is
// refused naming the book and the page, quoted, whatever its name holds.
TEST(EpubDocument, RefusesAPageLongerThanDeclaredAndReadsObfuscatedFonts) {
    test::ScratchDir scratch;
    const fs::path file = writeZip(
        scratch, "longer.epub",
        book(onePage,
             {{.name = "OPS/a.xhtml", .bytes = page("<p>Text.</p>"), .declaredSize = "20"},
              {.name = "META-INF/encryption.xml",
               .bytes = encryption("http://www.idpf.org/2008/embedding", "OPS/font.otf")}}));
    RecordingSink sink;
    try {
        openEpub(file, {})->read(sink);
        ADD_FAILURE() << "read";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("\"OPS/a.xhtml\": "), std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(sink.lines.empty());

    const fs::path malformed = writeZip(
        scratch, "malformed.epub",
        book(package(R"(<item id="a" href="a%0A.xhtml" media-type="application/xhtml+xml"/>)",
                     R"(<itemref idref="a"/>)"),
             {{.name = "OPS/a\n.xhtml", .bytes = page("<p>Text.</b>")}}));
    try {
        openEpub(malformed, {})->read(sink);
        ADD_FAILURE() << "read";
    } catch (const FileError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with("cannot read the book \"" + malformed.string() +
                                        "\": 'OPS/a'$'\\n''.xhtml':"))
            << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

// A page under XHTML's DTD, which gives meaning to named references the page does not declare.
std::string withXhtmlDoctype(std::string xhtml) {
    xhtml.insert(xhtml.find("<html"), "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                                      "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n");
    return xhtml;
}

// A table of contents of 50 000 links to ids its page does not hold, and a page of unknown
// entities: each kind is told a few times, one line each naming the book and the page (its
// name quoted, as it may hold anything), then one line counts the rest; every chapter still
// begins.
TEST(EpubDocument, WarnsAFewTimesOfEachFaultNamingTheBookAndThePage) {
    std::string links;
    for (int i = 0; i < 50000; ++i)
        links += "<li><a href=\"a%0A.xhtml#m" + std::to_string(i) + "\">T" + std::to_string(i) +
                 "</a></li>";
    std::string entities;
    for (int i = 0; i < 7; ++i)
        entities += " &e" + std::to_string(i) + ";";
    test::ScratchDir scratch;
    const fs::path file = writeZip(
        scratch, "many.epub",
        book(
            package(
                R"(<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="a" href="a%0A.xhtml" media-type="application/xhtml+xml"/>)",
                R"(<itemref idref="a"/>)"),
            {{.name = "OPS/nav.xhtml",
              .bytes = page("<nav epub:type=\"toc\"><ol>" + links + "</ol></nav>")},
             {.name = "OPS/a\n.xhtml",
              .bytes = withXhtmlDoctype(page("<p>Text" + entities + ".</p>"))}}));
    std::vector<std::string> warnings;
    DocumentOptions options;
    options.warning = [&](const std::string& warning) {
        warnings.push_back(warning);
    };
    EXPECT_EQ(chaptersOf(readAll(file, options)).size(), 50000u);
    const std::string book = "\"" + file.string() + "\": ";
    const std::string entry = "'OPS/a'$'\\n''.xhtml': ";
    ASSERT_EQ(warnings.size(), 12u);
    EXPECT_EQ(warnings[0], book + entry + "the entity &e0; is not one of HTML's; it is left out");
    EXPECT_EQ(warnings[5],
              book + entry + "no element has the id \"m0\" where the chapter \"T0\" begins");
    EXPECT_EQ(warnings[10], book + "49995 more chapters begin where no element has their id");
    EXPECT_EQ(warnings[11], book + "2 more entities that are not HTML's are left out");
    for (const std::string& warning : warnings) {
        EXPECT_TRUE(warning.starts_with(book)) << warning;
        EXPECT_EQ(warning.find('\n'), std::string::npos) << warning;
    }
}

// Controls in the book's metadata, its table of contents and its text (C1's NEL and CSI, a
// line separator, a right-to-left override) are read as every reader reads them: a space each,
// the override left out.
TEST(EpubDocument, CleansControlsFromItsMetadataTitlesAndText) {
    const std::string packageXml = R"(<?xml version="1.0"?>
<package version="3.0" xmlns="http://www.idpf.org/2007/opf">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>The&#x85;Quiet&#x9B;2J Book&#x202E;</dc:title>
<dc:creator>Ann&#x2028;Writer</dc:creator><dc:language>en&#x9B;</dc:language></metadata>
<manifest><item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="a" href="a.xhtml" media-type="application/xhtml+xml"/></manifest>
<spine><itemref idref="a"/></spine></package>)";
    test::ScratchDir scratch;
    const fs::path file = writeZip(
        scratch, "controls.epub",
        book(
            packageXml,
            {{.name = "OPS/nav.xhtml",
              .bytes = page(
                  R"(<nav epub:type="toc"><ol><li><a href="a.xhtml">One&#x85;&#x85;Two&#x202E;</a></li></ol></nav>)")},
             {.name = "OPS/a.xhtml", .bytes = page("<p>Text&#x85;here&#x9B;now.</p>")}}));
    const auto document = openEpub(file, {});
    EXPECT_EQ(document->metadata().title, "The Quiet 2J Book");
    EXPECT_EQ(document->metadata().author, "Ann Writer");
    EXPECT_EQ(document->metadata().language, "en");
    RecordingSink sink;
    document->read(sink);
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"# One Two", "Text here now."}));
}

TEST(EpubDocument, StopsReadingWhenCancelled) {
    test::ScratchDir scratch;
    const fs::path file = writeZip(
        scratch, "book.epub", book(onePage, {{.name = "OPS/a.xhtml", .bytes = page("<p>T.</p>")}}));
    std::atomic<bool> cancel = true;
    DocumentOptions options;
    options.cancel = &cancel;
    RecordingSink sink;
    EXPECT_THROW(openEpub(file, options)->read(sink), ConversionCancelled);
    EXPECT_TRUE(sink.lines.empty());
}

} // namespace
} // namespace kestrova::speech
