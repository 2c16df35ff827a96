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
// read as HTML, with one warning naming the book and the page, quoted, whatever its name
// holds, and the first fault.
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
    std::vector<std::string> warnings;
    DocumentOptions options;
    options.warning = [&](const std::string& warning) {
        warnings.push_back(warning);
    };
    EXPECT_EQ(readAll(malformed, options), std::vector<std::string>{"Text."});
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "\"" + malformed.string() +
                               "\": 'OPS/a'$'\\n''.xhtml':2: Opening and ending tag mismatch: "
                               "p line 2 and b; read as HTML");
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
<item id="a" href="a%0A.xhtml" media-type="application/xhtml+xml"/>
<item id="b" href="b.xhtml" media-type="application/xhtml+xml"/>)",
                R"(<itemref idref="a"/><itemref idref="b"/>)"),
            {{.name = "OPS/nav.xhtml",
              .bytes = page("<nav epub:type=\"toc\"><ol>" + links + "</ol></nav>")},
             {.name = "OPS/a\n.xhtml",
              .bytes = withXhtmlDoctype(page("<p>Text" + entities + ".</p>"))},
             {.name = "OPS/b.xhtml", .bytes = page("<p>After.</p>")}}));
    std::vector<std::string> warnings;
    DocumentOptions options;
    options.warning = [&](const std::string& warning) {
        warnings.push_back(warning);
    };
    // Each chapter begins where the page ends; of those, only the last has text to read.
    EXPECT_EQ(chaptersOf(readAll(file, options)), std::vector<std::string>{"T49999"});
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
