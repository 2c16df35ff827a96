// The PDF reader on documents LibreOffice writes: a story of several small pages with running
// heads, page numbers as footers, a footnote, a two-column section and words broken at line
// ends, its chapters in the PDF's outline; and one whose headings are only set large.

#include "speech/speech_error.h"
#include "speech/text/readers/document.h"
#include "speech/text/readers/pdf/page_furniture.h"
#include "speech/text/readers/pdf/paragraph_joiner.h"
#include "speech/text/readers/pdf/pdf_document.h"
#include "speech/text/readers/pdf/pdf_metadata.h"
#include "support/office_documents.h"
#include "support/test_support.h"
#include "support/word_match.h"
#include "xhtml_blocks_cases.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

namespace kestrova::speech {
namespace pdf_document_test {

using test::OdtPiece;

// Sentences enough to fill a few lines each; every paragraph has words of its own.
std::string sentencesAbout(const std::string& topic, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? " " : "") + std::string("The ") + topic + " number " + std::to_string(i + 1) +
                " was seen from the tower on a grey and windy morning near the harbour wall.";
    return text;
}

const std::vector<OdtPiece> storyBody() {
    return {
        {OdtPiece::Heading, "Chapter One: The Harbour"},
        {OdtPiece::Paragraph, "The keeper climbed the stairs every evening at dusk, counting the "
                              "steps as his father had taught him.[^His father kept the light for "
                              "forty years before him.] " +
                                  sentencesAbout("boat", 6)},
        {OdtPiece::Paragraph, "He knew all the connec-\ntions between the weather and the sea, and "
                              "a well-\nknown captain said so. " +
                                  sentencesAbout("gull", 5)},
        {OdtPiece::Paragraph, sentencesAbout("ship", 9)},
        {OdtPiece::Columns, ""},
        {OdtPiece::Paragraph, "Left column words begin here. " + sentencesAbout("seal", 3)},
        {OdtPiece::Paragraph, "Right column words begin here. " + sentencesAbout("whale", 3)},
        {OdtPiece::ColumnsEnd, ""},
        {OdtPiece::Paragraph,
         "After the columns a full width paragraph follows. " + sentencesAbout("cloud", 4)},
        {OdtPiece::Heading, "Chapter Two: The Letter"},
        {OdtPiece::Paragraph, sentencesAbout("letter", 8)},
        {OdtPiece::Paragraph, "Every well-known sailor knew the light. The last paragraph ends the "
                              "story."},
    };
}

const std::vector<OdtPiece> plainHeadingsBody() {
    return {
        {OdtPiece::BigParagraph, "First Part"},
        {OdtPiece::Paragraph, sentencesAbout("lamp", 3)},
        {OdtPiece::BigParagraph, "Second Part"},
        {OdtPiece::Paragraph, sentencesAbout("rock", 3)},
    };
}

// What a listener should hear of a paragraph's source text.
std::string heard(std::string text) {
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"connec-\n", "connec"}, {"well-\n", "well-"}})
        if (const std::size_t at = text.find(from); at != std::string::npos)
            text.replace(at, from.size(), to);
    return test::withoutNotes(text);
}

std::string bodyText(const std::vector<OdtPiece>& body) {
    std::string text;
    for (const OdtPiece& piece : body)
        text += heard(piece.text) + "\n";
    return text;
}

class PdfDocumentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string story = test::flatOdt("The Lighthouse Keeper", "Ada Writer",
                                                "The Lighthouse Keeper", storyBody());
        const std::string plain =
            test::flatOdt("Plain", "B. Writer", "Plain Headings", plainHeadingsBody());
        // A list beside a table: LibreOffice sets the bullets apart from their items.
        const std::string list = "- One item of the list.\n- Another item.\n\n| Name | Age |\n"
                                 "|---|---|\n| Ann | 32 |\n";
        folder_ = test::madeOnce("pdf reader\n" + story + plain + list, [&](const fs::path& dir) {
            test::writeBytes(dir / "story.fodt", story);
            test::writeBytes(dir / "plain.fodt", plain);
            test::writeBytes(dir / "list.md", list);
            const test::Outcome odt =
                test::runProgram("/usr/bin/pandoc", {"-o", "list.odt", "list.md"}, dir);
            ASSERT_EQ(odt.exitStatus(), 0) << odt.standardError;
            const test::Outcome made =
                test::officeToPdf(dir, {"story.fodt", "plain.fodt", "list.odt"});
            ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
            ASSERT_TRUE(fs::exists(dir / "story.pdf")) << made.standardError;
        });
    }

    static RecordingSink read(const std::string& name, const DocumentOptions& options = {}) {
        RecordingSink sink;
        openPdf(folder_ / name, options)->read(sink);
        return sink;
    }

    static std::string blocksText(const RecordingSink& sink) {
        std::string text;
        for (const DocumentBlock& block : sink.blocks)
            text += block.runs.at(0).text + "\n";
        return text;
    }

    static std::vector<std::string> chapters(const RecordingSink& sink) {
        std::vector<std::string> titles;
        for (const std::string& event : sink.events)
            if (event.starts_with("# "))
                titles.push_back(event.substr(2));
        return titles;
    }

    static inline fs::path folder_;
};

TEST_F(PdfDocumentTest, ReadsEveryBodyWordOnceInOrderAndNothingElse) {
    const RecordingSink sink = read("story.pdf");
    const test::WordMatch match =
        test::matchWords(test::wordsOf(bodyText(storyBody())), test::wordsOf(blocksText(sink)));
    EXPECT_GE(match.recall(), 0.99) << sink.all();
    EXPECT_GE(match.precision(), 0.99) << sink.all();
    const std::string all = sink.all();
    EXPECT_EQ(all.find("Lighthouse"), std::string::npos) << all;  // the running head
    EXPECT_EQ(all.find("Page "), std::string::npos) << all;       // the footers
    EXPECT_EQ(all.find("forty years"), std::string::npos) << all; // the footnote
}

// Each paragraph is one block, whatever its lines and pages: none ends at a line's end, and
// none runs into the next.
TEST_F(PdfDocumentTest, ParagraphsAreWholeAcrossLinesPagesAndColumns) {
    const RecordingSink sink = read("story.pdf");
    std::vector<std::string> expected;
    for (const OdtPiece& piece : storyBody())
        if (!piece.text.empty())
            expected.push_back(heard(piece.text));
    EXPECT_EQ(std::vector<std::string>(sink.events.begin(), sink.events.end()).size(),
              expected.size() + 2)
        << sink.all();
    for (const std::string& paragraph : expected)
        EXPECT_NE(std::find(sink.events.begin(), sink.events.end(), paragraph), sink.events.end())
            << "not one block: " << paragraph << "\n"
            << sink.all();
}

TEST_F(PdfDocumentTest, WordsBrokenAtLineEndsAreJoinedAndCompoundsKeepTheirHyphen) {
    const std::string all = read("story.pdf").all();
    EXPECT_NE(all.find(" connections between"), std::string::npos) << all;
    EXPECT_NE(all.find(" a well-known captain"), std::string::npos) << all;
    EXPECT_EQ(all.find("connec-"), std::string::npos) << all;
}

TEST_F(PdfDocumentTest, ChaptersComeFromTheOutlineAndMetadataFromTheInformation) {
    const auto document = openPdf(folder_ / "story.pdf", {});
    EXPECT_EQ(document->metadata().title, "The Lighthouse Keeper");
    EXPECT_EQ(document->metadata().author, "Ada Writer");
    RecordingSink sink;
    document->read(sink);
    EXPECT_EQ(chapters(sink),
              (std::vector<std::string>{"Chapter One: The Harbour", "Chapter Two: The Letter"}));
    // The heading is read as the chapter's first block, as in HTML.
    const auto first =
        std::find(sink.events.begin(), sink.events.end(), "# Chapter One: The Harbour");
    ASSERT_NE(first, sink.events.end());
    EXPECT_EQ(*(first + 1), "Chapter One: The Harbour");
}

TEST_F(PdfDocumentTest, WithoutAnOutlineLargeShortParagraphsAreChapters) {
    const RecordingSink sink = read("plain.pdf");
    EXPECT_EQ(chapters(sink), (std::vector<std::string>{"First Part", "Second Part"}))
        << sink.all();
}

TEST_F(PdfDocumentTest, BlocksCarryTheirPageLabels) {
    const RecordingSink sink = read("story.pdf");
    ASSERT_FALSE(sink.blocks.empty());
    EXPECT_EQ(sink.blocks.front().page, "1");
    int last = 0;
    for (const DocumentBlock& block : sink.blocks) {
        const int page = std::stoi(block.page);
        EXPECT_GE(page, last) << block.runs[0].text;
        last = page;
    }
    EXPECT_GE(last, 3);
}

// The column that LibreOffice sets on the right is read after the left one, and the
// full-width paragraph below both after them.
TEST_F(PdfDocumentTest, ColumnsAreReadOneAfterTheOther) {
    const std::string all = read("story.pdf").all();
    const std::size_t left = all.find("Left column words");
    const std::size_t right = all.find("Right column words");
    const std::size_t after = all.find("After the columns");
    EXPECT_LT(left, right);
    EXPECT_LT(right, after);
    EXPECT_NE(after, std::string::npos);
}

// A note is read as a paragraph of its own once the paragraph in progress at its page's foot
// ends: after the one its mark stands in, never inside a sentence.
TEST_F(PdfDocumentTest, NotesAreLeftOutOrReadAfterTheParagraphsAroundThem) {
    const RecordingSink quiet = read("story.pdf");
    DocumentOptions options;
    options.readNotes = true;
    const RecordingSink notes = read("story.pdf", options);
    const auto holds = [&](const std::string& words) {
        return std::find_if(notes.events.begin(), notes.events.end(), [&](const auto& event) {
            return event.find(words) != std::string::npos;
        });
    };
    const auto note = holds("His father kept the light");
    ASSERT_NE(note, notes.events.end()) << notes.all();
    EXPECT_TRUE(note->starts_with("1 His father kept the light")) << *note;
    EXPECT_LT(holds("taught him"), note) << notes.all();
    EXPECT_EQ(quiet.events.size() + 1, notes.events.size());
    // The mark beside "him." is read with the notes only.
    EXPECT_NE(holds("taught him.1")->find("him.1"), std::string::npos);
    EXPECT_EQ(quiet.all().find("him.1"), std::string::npos);
}

// A bullet is no word: the items are read, and no block holds a bullet alone.
TEST_F(PdfDocumentTest, ListBulletsAreNotRead) {
    const std::string text = blocksText(read("list.pdf"));
    EXPECT_NE(text.find("One item of the list."), std::string::npos) << text;
    EXPECT_EQ(text.find("\xE2\x80\xA2"), std::string::npos) << text;
}

TEST_F(PdfDocumentTest, PdftotextFindsTheWordsReadInTheirOrder) {
    const test::Outcome text = test::runProgram("/usr/bin/pdftotext", {"story.pdf", "-"}, folder_);
    ASSERT_EQ(text.exitStatus(), 0) << text.standardError;
    const test::WordMatch match = test::matchWords(test::wordsOf(blocksText(read("story.pdf"))),
                                                   test::wordsOf(text.standardOutput));
    EXPECT_GE(match.recall(), 0.99);
}

TEST_F(PdfDocumentTest, ReadingTwiceGivesTheSameAndAStopEndsIt) {
    const auto document = openPdf(folder_ / "story.pdf", {});
    RecordingSink first, second;
    document->read(first);
    document->read(second);
    EXPECT_EQ(first.events, second.events);
    std::atomic<bool> stop{true};
    DocumentOptions options;
    options.cancel = &stop;
    RecordingSink sink;
    EXPECT_THROW(openPdf(folder_ / "story.pdf", options)->read(sink), ConversionCancelled);
}

TEST_F(PdfDocumentTest, DamagedBytesAreRefusedInOneLineNamingTheFile) {
    std::string bytes = test::readBytes(folder_ / "story.pdf");
    bytes.resize(bytes.size() / 3);
    try {
        readPdf(bytes, "cut.pdf", {});
        FAIL() << "a third of a PDF was read";
    } catch (const FileError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with(
            "cannot read the PDF document \"cut.pdf\": it is damaged or not a PDF document"))
            << message;
        EXPECT_EQ(message.find('\n'), std::string::npos);
    }
}

// Lines as a page gives them, one under the other, 12-point text at 14 points' spacing.
std::vector<pdf::PdfPage> pageOfLines(const std::vector<std::string>& lines) {
    pdf::PdfPage page{.lines = {}, .label = "1", .height = 600, .noteMarks = 0};
    double top = 100;
    for (const std::string& text : lines) {
        page.lines.push_back({.text = text,
                              .left = 50,
                              .right = 350,
                              .top = top,
                              .bottom = top + 15,
                              .size = 12,
                              .role = pdf::LineRole::Body});
        top += 14;
    }
    return {page};
}

std::string joined(const std::vector<std::string>& lines) {
    const std::vector<pdf::PdfPage> pages = pageOfLines(lines);
    const pdf::HyphenBreaks hyphens(pages);
    const pdf::LineSpacing spacing(pages);
    std::string text;
    pdf::ParagraphJoiner joiner(hyphens, spacing,
                                [&](pdf::PdfParagraph paragraph) { text += paragraph.text + "|"; });
    const pdf::PageEdges edges(pages[0]);
    for (const pdf::PdfLine& line : pages[0].lines)
        joiner.add(line, 0, edges, "1");
    joiner.finish();
    return text;
}

TEST(PdfHyphenBreaks, ABreakJoinsOrKeepsItsHyphenByTheDocumentsOwnWords) {
    // Neither part a word of its own: one word broken.
    EXPECT_EQ(joined({"all the connec-", "tions held"}), "all the connections held|");
    // The word written whole elsewhere: joined, though both parts are words.
    EXPECT_EQ(joined({"some thing and some-", "thing and something"}),
              "some thing and something and something|");
    // The compound written with its hyphen elsewhere, or both parts words: kept.
    EXPECT_EQ(joined({"a sea-wall here, a sea-", "wall there"}),
              "a sea-wall here, a sea-wall there|");
    EXPECT_EQ(joined({"the sea and the wall, the sea-", "wall"}),
              "the sea and the wall, the sea-wall|");
    // A capital after it: a name's hyphen.
    EXPECT_EQ(joined({"the Anglo-", "Saxon kings"}), "the Anglo-Saxon kings|");
    // A soft hyphen is the producer's break, always joined; a dash alone is no break.
    EXPECT_EQ(joined({"the sea and the wall, the sea\xC2\xAD", "wall"}),
              "the sea and the wall, the seawall|");
    EXPECT_EQ(joined({"one -", "two"}), "one - two|");
}

TEST(PdfPageNumbers, NumbersInTheirUsualDressAreAndWordsAreNot) {
    for (const char* number : {"3", "Page 3", "- 3 -", "(iv)", "xii", "3 of 10", "PAGE 12", "7/9"})
        EXPECT_TRUE(pdf::isPageNumber(number)) << number;
    for (const char* text : {"mix", "Civil", "Page three", "3 apples", "", "iiii", "Chapter 3"})
        EXPECT_FALSE(pdf::isPageNumber(text)) << text;
}

TEST(PdfMetadata, TheLanguageIsTheFirstOfXmpsDcLanguage) {
    EXPECT_EQ(pdf::xmpLanguage(R"(<rdf:Description><dc:language><rdf:Bag><rdf:li>de-AT</rdf:li>)"
                               R"(<rdf:li>en</rdf:li></rdf:Bag></dc:language></rdf:Description>)"),
              "de-AT");
    EXPECT_EQ(pdf::xmpLanguage("<x:xmpmeta><dc:title>T</dc:title></x:xmpmeta>"), "");
}

} // namespace pdf_document_test
} // namespace kestrova::speech
