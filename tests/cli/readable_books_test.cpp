// What a listener hears of books that real producers write: pandoc's formulas (MathML with a
// TeX annotation) and its raw HTML, a fixed-layout book whose pages are SVG drawings; and the
// documents of which nothing can be read, refused before any sound is made.

#include "books_cases.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace kestrova::cli {
namespace readable_books_test {

void pandoc(const ScratchDir& scratch, const std::string& markdown, const std::string& to,
            const std::string& name) {
    test::writeBytes(scratch / "in.md", markdown);
    const Outcome made = test::runProgram(
        "/usr/bin/pandoc",
        {"-s", "-f", "markdown", "-t", to, "--metadata", "title=Book", "-o", name, "in.md"},
        scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
}

std::vector<std::string> spoken(const ScratchDir& scratch, const std::string& input,
                                Outcome& outcome, std::vector<std::string> options = {}) {
    options.insert(options.end(), {"--timings", "t.json", "-o", "out.wav", input});
    outcome = convert(scratch, options);
    std::vector<std::string> texts;
    if (outcome.exitStatus() == 0)
        for (const Sentence& sentence : timingsOf(scratch / "t.json").first)
            texts.push_back(sentence.text);
    return texts;
}

// A zipfile made by python3: mimetype first, then each "NAME" "BYTES" pair.
void writeEpub(const ScratchDir& scratch, const std::string& name,
               const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<std::string> arguments{
        "-c",
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "  z.writestr(zipfile.ZipInfo('mimetype'), 'application/epub+zip')\n"
        "  for n, b in zip(sys.argv[2::2], sys.argv[3::2]): z.writestr(n, b)\n",
        name};
    for (const auto& [entry, bytes] : entries)
        arguments.insert(arguments.end(), {entry, bytes});
    const Outcome made = test::runProgram("/usr/bin/python3", arguments, scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
}

// A book in OPS/ whose spine is these pages, each (name, media type, bytes).
void writeBook(const ScratchDir& scratch, const std::string& name,
               const std::vector<std::tuple<std::string, std::string, std::string>>& pages) {
    std::string items, spine;
    std::vector<std::pair<std::string, std::string>> entries{
        {"META-INF/container.xml",
         "<?xml version=\"1.0\"?><container version=\"1.0\" xmlns=\"urn:oasis:names:tc:"
         "opendocument:xmlns:container\"><rootfiles><rootfile full-path=\"OPS/book.opf\" "
         "media-type=\"application/oebps-package+xml\"/></rootfiles></container>"}};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const auto& [page, type, bytes] = pages[i];
        const std::string id = "p" + std::to_string(i);
        items += "<item id=\"" + id + "\" href=\"" + page + "\" media-type=\"" + type + "\"/>";
        spine += "<itemref idref=\"" + id + "\"/>";
        entries.emplace_back("OPS/" + page, bytes);
    }
    entries.emplace_back(
        "OPS/book.opf",
        "<?xml version=\"1.0\"?><package version=\"3.0\" xmlns=\"http://www.idpf.org/2007/opf\">"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>B</dc:title>"
        "<dc:language>en</dc:language></metadata><manifest>" +
            items + "</manifest><spine>" + spine + "</spine></package>");
    writeEpub(scratch, name, entries);
}

std::string xhtmlPage(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/"
           "xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>t</title></head>"
           "<body>" +
           body + "</body></html>";
}

// pandoc writes TeX math as MathML in its EPUB 3 (in <semantics>, with the TeX as an
// annotation, no alttext): each formula is said inside its sentence, never its TeX. Raw HTML
// with a stray end tag makes a page that is not well-formed: the book is read all the same.
TEST(ReadableBooks, PandocFormulasAndRawHtmlAreRead) {
    ScratchDir scratch;
    pandoc(scratch,
           "# Vectors\n\nSuppose that $u$ and $v$ are vectors in $\\mathbb{R}^n$.\n\n"
           "Then $x^2 + 2 \\le \\frac{a}{b}$ holds.\n\n# Title page\n\nBy a writer.\n\n</div>\n\n"
           "The end.\n",
           "epub3", "book.epub");
    Outcome outcome;
    const std::vector<std::string> said = spoken(scratch, "book.epub", outcome);
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    const std::vector<std::string> expected = {
        "Book", // pandoc's title page
        "Vectors",
        "Suppose that u and v are vectors in R n.",
        "Then x squared plus 2 less than or equal to a over b holds.",
        "Title page",
        "By a writer.",
        "The end."};
    EXPECT_EQ(said, expected);
    EXPECT_NE(outcome.standardError.find("warning: \"book.epub\": \"EPUB/text/ch002.xhtml\":"),
              std::string::npos)
        << outcome.standardError;
    EXPECT_NE(outcome.standardError.find("and div; read as HTML\n"), std::string::npos)
        << outcome.standardError;
    EXPECT_NE(outcome.standardError.find("2 chapters found"), std::string::npos);
}

// A fixed-layout book's pages are SVG drawings in its spine, or drawings inside XHTML: their
// text is read, line after line.
TEST(ReadableBooks, DrawnPagesAreReadByTheirText) {
    ScratchDir scratch;
    const std::string drawing =
        "<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 60 80\">"
        "<title>Page 1</title><image href=\"p1.jpg\" width=\"60\" height=\"80\"/>"
        "<text x=\"1\" y=\"10\">The keeper climbed</text><text x=\"1\" y=\"20\">the stair.</text>"
        "</svg>";
    writeBook(scratch, "fixed.epub",
              {{"p1.svg", "image/svg+xml", drawing},
               {"p2.xhtml", "application/xhtml+xml",
                xhtmlPage("<svg xmlns=\"http://www.w3.org/2000/svg\"><text>He lit the "
                          "lamp.</text></svg>")}});
    Outcome outcome;
    const std::vector<std::string> said = spoken(scratch, "fixed.epub", outcome);
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_EQ(said,
              (std::vector<std::string>{"The keeper climbed the stair.", "He lit the lamp."}));
    EXPECT_EQ(outcome.standardError.find("warning"), std::string::npos) << outcome.standardError;
}

// A document of which nothing can be read fails in one line naming it and why, with status 1,
// and leaves no file where the sound would have gone; an empty plain text and an SSML
// document of breaks alone still give their (silent) sound.
TEST(ReadableBooks, NothingToReadIsAFailureBeforeAnyOutput) {
    ScratchDir scratch;
    writeBook(
        scratch, "images.epub",
        {{"a.xhtml", "application/xhtml+xml",
          xhtmlPage("<p><img src=\"a.jpg\" alt=\"A lamp\"/></p>")},
         {"b.xhtml", "application/xhtml+xml",
          xhtmlPage("<svg xmlns=\"http://www.w3.org/2000/svg\"><image href=\"b.jpg\"/></svg>")}});
    writeBook(scratch, "notes.epub",
              {{"a.xhtml", "application/xhtml+xml",
                xhtmlPage("<aside epub:type=\"footnote\"><p>Only a note.</p></aside>")}});
    writeBook(scratch, "blank.epub",
              {{"a.xhtml", "application/xhtml+xml", xhtmlPage("<div> </div>")}});
    test::writeBytes(scratch / "contents.html",
                     "<html><body><nav epub:type=\"toc\"><a href=\"#c\">One</a></nav>"
                     "<img src=\"x.png\"></body></html>");
    test::writeBytes(scratch / "code.md", "```\ncode only\n```\n");
    test::writeBytes(scratch / "blank.md", "\n\n");
    test::writeBytes(scratch / "pictures.md", "![A lamp](lamp.png)\n\n![](b.png)\n");
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"images.epub", "cannot read the book \"images.epub\": no text could be read from it "
                        "(it holds only images; --read-alt reads their alternative text)"},
        {"notes.epub", "cannot read the book \"notes.epub\": no text could be read from it (all "
                       "it holds is left out: notes; --read-notes reads notes)"},
        {"blank.epub", "cannot read the book \"blank.epub\": no text could be read from it (its "
                       "pages are empty)"},
        {"contents.html", "cannot read the text file \"contents.html\": no text could be read "
                          "from it (all it holds is left out: images, navigation)"},
        {"code.md", "cannot read the text file \"code.md\": no text could be read from it (all "
                    "it holds is left out: code; --read-code reads code)"},
        {"pictures.md", "cannot read the text file \"pictures.md\": no text could be read from it "
                        "(it holds only images; --read-alt reads their alternative text)"},
        {"blank.md",
         "cannot read the text file \"blank.md\": no text could be read from it (it is empty)"},
    };
    for (const auto& [input, line] : refused) {
        SCOPED_TRACE(input);
        const Outcome outcome = convert(scratch, {"-o", "out.m4b", input});
        EXPECT_EQ(outcome.exitStatus(), 1);
        EXPECT_EQ(outcome.standardError, "kestrova-wav-cli: " + line + "\n");
        EXPECT_FALSE(fs::exists(scratch / "out.m4b"));
    }
    // What the options would read is read: the image's alternative text, the note.
    Outcome outcome;
    EXPECT_EQ(spoken(scratch, "notes.epub", outcome, {"--read-notes"}),
              std::vector<std::string>{"Only a note."});
    EXPECT_EQ(spoken(scratch, "images.epub", outcome, {"--read-alt"}),
              std::vector<std::string>{"A lamp"});

    test::writeBytes(scratch / "empty.txt", "");
    test::writeBytes(scratch / "breaks.ssml",
                     "<speak version=\"1.1\" xmlns=\"http://www.w3.org/2001/10/synthesis\" "
                     "xml:lang=\"en\"><break time=\"300ms\"/></speak>");
    for (const std::string input : {"empty.txt", "breaks.ssml"}) {
        const Outcome kept = convert(scratch, {"-o", input + ".wav", input});
        EXPECT_EQ(kept.exitStatus(), 0) << input << ": " << kept.standardError;
        EXPECT_TRUE(fs::exists(scratch / (input + ".wav"))) << input;
    }
}

} // namespace readable_books_test
} // namespace kestrova::cli
