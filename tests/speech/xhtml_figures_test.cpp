// What a page's formulas (MathML) and drawings (SVG) say, read through the page reader from
// real pages parsed by libxml2; and pages that are not well-formed XHTML, read as HTML.

#include "speech/text/readers/html/xhtml_blocks.h"
#include "xhtml_blocks_cases.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace xhtml_figures_test {

std::string xhtml(const std::string& body, const std::string& language = "en") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
           "xmlns:epub=\"http://www.idpf.org/2007/ops\" "
           "xml:lang=\"" +
           language + "\"><head><title>T</title></head><body>" + body + "</body></html>";
}

std::string math(const std::string& content, const std::string& attributes = "") {
    return "<math xmlns=\"http://www.w3.org/1998/Math/MathML\"" + attributes + ">" + content +
           "</math>";
}

struct Told {
    std::vector<std::string> lines;
    DocumentOptions options(bool readAlt = false, bool readNotes = false) {
        DocumentOptions chosen = reading(readAlt, readNotes);
        chosen.warning = [this](const std::string& line) {
            lines.push_back(line);
        };
        return chosen;
    }
};

struct FormulaCase {
    std::string name;
    std::string mathml;
    std::string said;
};

// Each formula inside "Here <math/> ends." is said in its sentence, no space before the stop.
TEST(Formulas, AreSaidInTheirSentenceWithEnglishWords) {
    const std::vector<FormulaCase> cases = {
        {"Power and sum", "<msup><mi>x</mi><mn>2</mn></msup><mo>+</mo><mn>2</mn>",
         "x squared plus 2"},
        {"Cube and power",
         "<msup><mi>y</mi><mn>3</mn></msup><mo>&#x2212;</mo>"
         "<msup><mi>e</mi><mi>n</mi></msup>",
         "y cubed minus e to the power of n"},
        {"Fraction", "<mfrac><mi>a</mi><mi>b</mi></mfrac>", "a over b"},
        {"Fraction of sums", "<mfrac><mrow><mi>a</mi><mo>+</mo><mi>b</mi></mrow><mn>2</mn></mfrac>",
         "the fraction a plus b over 2"},
        {"Roots",
         "<msqrt><mi>x</mi></msqrt><mo>&#xD7;</mo><mroot><mi>y</mi><mn>3</mn></mroot>"
         "<mo>=</mo><mroot><mi>z</mi><mi>k</mi></mroot>",
         "the square root of x times the cube root of y equals the root of order k of z"},
        {"Scripts",
         "<msub><mi>x</mi><mi>i</mi></msub><mo>&#x2264;</mo>"
         "<msubsup><mi>y</mi><mi>j</mi><mn>2</mn></msubsup>",
         "x sub i less than or equal to y sub j squared"},
        {"Membership and maps",
         "<mi>f</mi><mo>:</mo><mi>A</mi><mo>&#x2192;</mo><mi>B</mi><mo>,</mo>"
         "<mi>a</mi><mo>&#x2208;</mo><mi>A</mi>",
         "f such that A to B, a in A"},
        {"Function application is not said",
         "<mi>f</mi><mo>&#x2061;</mo><mo>(</mo><mi>x</mi><mo>)</mo>", "f x"},
        {"Set of a dimension",
         "<msup><mstyle mathvariant=\"double-struck\"><mi>&#x211D;</mi>"
         "</mstyle><mi>n</mi></msup>",
         "R n"},
        {"Bold letters are letters", "<mi>&#x1D42F;</mi>", "v"},
        {"Accent", "<mover><mi>x</mi><mo>&#xAF;</mo></mover>", "x bar"},
        {"Sum over a range",
         "<munderover><mo>&#x2211;</mo><mrow><mi>i</mi><mo>=</mo><mn>1</mn>"
         "</mrow><mi>n</mi></munderover><msub><mi>a</mi><mi>i</mi></msub>",
         "the sum from i equals 1 to n of a sub i"},
        {"Limit",
         "<munder><mi>lim</mi><mrow><mi>x</mi><mo>&#x2192;</mo><mn>0</mn></mrow></munder>"
         "<mi>f</mi>",
         "the limit as x to 0 of f"},
        {"Presentation, never the annotation",
         "<semantics><mrow><mi>u</mi><mo>+</mo><mi>v</mi></mrow>"
         "<annotation encoding=\"application/x-tex\">u+v</annotation>"
         "<annotation-xml encoding=\"MathML-Content\"><apply><plus/></apply></annotation-xml>"
         "</semantics>",
         "u plus v"},
        {"Table row by row",
         "<mtable><mtr><mtd><mn>1</mn></mtd><mtd><mn>0</mn></mtd></mtr>"
         "<mtr><mtd><mn>0</mn></mtd><mtd><mn>1</mn></mtd></mtr></mtable>",
         "1, 0; 0, 1"},
        {"Text and spaces",
         "<mtext>for all</mtext><mspace width=\"1em\"/><mi>n</mi>"
         "<mphantom><mi>q</mi></mphantom>",
         "for all n"},
    };
    for (const FormulaCase& formula : cases) {
        SCOPED_TRACE(formula.name);
        Told told;
        const RecordingSink sink =
            readPage(xhtml("<p>Here " + math(formula.mathml) + ". Next.</p>"), told.options());
        EXPECT_EQ(sink.events, std::vector<std::string>{"Here " + formula.said + ". Next."});
        EXPECT_TRUE(told.lines.empty()) << told.lines.front();
    }
}

// The author's alttext wins over the tokens; a formula is read without --read-alt, in the
// sentence that holds it; a formula of a block of its own is a block; hidden ones and those
// of a note left out are not read.
TEST(Formulas, AlttextWinsAndFormulasStayWhereTheyStand) {
    const std::string page =
        xhtml("<p>Suppose that " + math("<mi>u</mi>") + " and " + math("<mi>v</mi>") +
              " are vectors in " + math("<msup><mi>&#x211D;</mi><mi>n</mi></msup>") + ".</p>" +
              math("<mi>E</mi><mo>=</mo><mi>m</mi><msup><mi>c</mi><mn>2</mn></msup>",
                   " display=\"block\" alttext=\"E equals m c squared\"") +
              "<p>Then (" + math("<mi>k</mi>") + ") holds" +
              math("<mi>z</mi>", " style=\"display: none\"") + ".</p>" +
              "<aside epub:type=\"footnote\"><p>A note " + math("<mi>w</mi>") + ".</p></aside>");
    const std::vector<std::string> expected = {"Suppose that u and v are vectors in R n.",
                                               "E equals m c squared", "Then (k) holds."};
    EXPECT_EQ(readPage(page).events, expected);
    EXPECT_EQ(readPage(page, reading(false, true)).events.back(), "A note w.");
}

// Words are English's: a page in another language reads a formula by its tokens, told once
// for the whole reading with what could not be said; alttext is read in any language.
TEST(Formulas, SimplifiedFormulasAreToldOnceForTheReading) {
    Told told;
    PageWarnings warnings(told.options().warning);
    const DocumentOptions options = told.options();
    RecordingSink sink;
    const std::string german =
        xhtml("<p>Es gilt " + math("<msup><mi>x</mi><mn>2</mn></msup><mo>+</mo><mn>2</mn>") +
                  " und " + math("<mi>y</mi>", " alttext=\"y Quadrat\"") + ".</p>",
              "de");
    const std::string glyphs =
        xhtml("<p>Mark " + math("<mglyph alt=\"star\"/><mi>s</mi>") + " and " +
              math("<mmultiscripts><mi>F</mi><mn>1</mn>"
                   "<none/></mmultiscripts>") +
              ".</p>");
    for (const auto& [name, bytes] :
         {std::pair{"OEBPS/de.xhtml", german}, std::pair{"OEBPS/glyphs.xhtml", glyphs}}) {
        XhtmlPage page = pageNamed(name);
        page.bytes = bytes;
        readXhtmlPage(page, options, sink, warnings);
    }
    EXPECT_TRUE(told.lines.empty()) << "told before the reading ended";
    warnings.tellUntold("\"book.epub\": ");
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"Es gilt x 2 + 2 und y Quadrat.", "Mark s and F 1."}));
    EXPECT_EQ(told.lines,
              std::vector<std::string>{"\"book.epub\": 3 formulas without alttext are read by "
                                       "their symbols (words for formulas are known in English "
                                       "alone; elements without words: \"mglyph\", "
                                       "\"mmultiscripts\")"});
}

// A drawing's <text> elements are its lines, joined as a paragraph's so that a sentence
// crosses them; each group is a paragraph; its title and description are not read; a drawing
// without text is an image, read by its label with --read-alt alone.
TEST(Drawings, TextIsReadLineByLineInOrder) {
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 600 800\" aria-label=\"A page\">"
        "<title>Tooltip</title><desc>A described page</desc>"
        "<g><text x=\"10\" y=\"20\">It was a dark</text>"
        "<text x=\"10\" y=\"40\">and stormy <tspan font-style=\"italic\">night</tspan>.</text></g>"
        "<g><text><tspan x=\"1\">The</tspan><tspan x=\"9\">end.</tspan></text></g></svg>";
    const std::string page = xhtml("<p>Before.</p>" + svg +
                                   "<p>After <svg xmlns=\"http://www.w3.org/2000/svg\" "
                                   "aria-label=\"a lamp\"><circle r=\"3\"/></svg> it.</p>");
    const RecordingSink sink = readPage(page);
    const std::vector<std::string> expected = {"Before.", "It was a dark and stormy night.",
                                               "The end.", "After it."};
    EXPECT_EQ(sink.events, expected);
    expectPlacesInPage(sink.blocks, page);
    EXPECT_EQ(readPage(page, reading(true, false)).events.back(), "After a lamp it.");
}

// A page with one stray tag, as books and pandoc's raw HTML have them, is read as HTML with
// its places kept and one warning naming it, its line and the XML parser's first fault; pages
// past a few are counted.
TEST(MalformedPages, AreReadAsHtmlWithOneWarningEach) {
    const std::string stray = "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/"
                              "xhtml\">\n<body>\n<p>The Title</p>\n</div>\n"
                              "<p>By A. Writer &amp; co.</p></body></html>";
    Told told;
    const RecordingSink sink = readPage(stray, told.options(), pageNamed("OEBPS/title.xhtml"));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"The Title", "By A. Writer & co."}));
    expectPlacesInPage(sink.blocks, stray);
    EXPECT_EQ(told.lines, std::vector<std::string>{
                              "\"OEBPS/title.xhtml\":5: Opening and ending tag mismatch: body "
                              "line 3 and div; read as HTML"});

    // A prefix the page never declares (epub: without its namespace) is such a fault too.
    Told prefixed;
    const std::string undeclared = "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/"
                                   "1999/xhtml\"><body><p epub:type=\"x\">Prefix</p></body></html>";
    EXPECT_EQ(readPage(undeclared, prefixed.options()).events, std::vector<std::string>{"Prefix"});
    EXPECT_EQ(prefixed.lines, std::vector<std::string>{
                                  "\"OEBPS/page.xhtml\":2: Namespace prefix epub for type on p "
                                  "is not defined; read as HTML"});

    Told many;
    PageWarnings warnings(many.options().warning);
    RecordingSink all;
    for (int i = 0; i < 8; ++i) {
        XhtmlPage page = pageNamed("p" + std::to_string(i) + ".xhtml");
        const std::string bytes =
            "<html><body><p>Page " + std::to_string(i) + "<br></p></body></html>";
        page.bytes = bytes;
        readXhtmlPage(page, many.options(), all, warnings);
    }
    warnings.tellUntold("");
    ASSERT_EQ(many.lines.size(), 6u);
    EXPECT_EQ(many.lines[0], "\"p0.xhtml\":1: Opening and ending tag mismatch: br line 1 and p; "
                             "read as HTML");
    EXPECT_EQ(many.lines[5], "3 more pages that are not well-formed XHTML are read as HTML");
    EXPECT_EQ(all.events.size(), 8u);
}

} // namespace xhtml_figures_test
} // namespace kestrova::speech
