#include "office_document_cases.h"
#include "speech/input_kinds.h"
#include "speech/speech_error.h"
#include "support/office_documents.h"

#include <algorithm>

namespace kestrova::speech::office_document_test {

using namespace office_document_cases;
// Before the like-named sinks of other readers' tests, which a unity batch may hold.
using office_document_cases::RecordingSink;
using test::matchWords;
using test::wordsOf;

// The book as pandoc writes it in both formats, and as LibreOffice converts each of those
// into the other; the edited pages as LibreOffice converts them into both. LibreOffice starts
// once per format, in a profile of its own (so that it runs as root and as anyone).
class OfficeDocuments : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = test::madeOnce(std::string("office readers\n") + bookMarkdown + changesFodt,
                                 [](const fs::path& dir) {
                                     test::writeBytes(dir / "book.md", bookMarkdown);
                                     test::writeBytes(dir / "changes.fodt", changesFodt);
                                     makeDocuments(dir);
                                 });
    }

    static void makeDocuments(const fs::path& dir) {
        for (const char* to : {"book.docx", "book.odt"}) {
            const test::Outcome made =
                test::runProgram("/usr/bin/pandoc", {"book.md", "-o", to}, dir);
            ASSERT_EQ(made.status, 0) << made.standardError;
        }
        const std::string profile = "-env:UserInstallation=file://" + (dir / "profile").string();
        for (const auto& [format, from] : {std::pair{"docx", "book.odt"}, {"odt", "book.docx"}}) {
            const test::Outcome made =
                test::runProgram("/usr/bin/soffice",
                                 {"--headless", profile, "--convert-to", format, "--outdir", "lo",
                                  from, "changes.fodt"},
                                 dir);
            ASSERT_EQ(made.status, 0) << made.standardError;
        }
    }

    static fs::path at(const std::string& name) { return folder_ / name; }
    static std::vector<fs::path> books() {
        return {at("book.docx"), at("book.odt"), at("lo/book.docx"), at("lo/book.odt")};
    }

    static fs::path folder_;
};

fs::path OfficeDocuments::folder_;

TEST_F(OfficeDocuments, EveryWordOnceInOrderWithChaptersAndNoNote) {
    for (const fs::path& book : books()) {
        SCOPED_TRACE(book);
        const RecordingSink sink = readOffice(book);
        EXPECT_EQ(sink.chapters(), (std::vector<std::string>{"Chapter One", "Chapter Two"}));
        const test::WordMatch match = matchWords(wordsOf(bookWords), wordsOf(sink.blockText()));
        EXPECT_GE(match.recall(), 0.99) << sink.all();
        EXPECT_GE(match.precision(), 0.99) << sink.all();
        EXPECT_EQ(sink.all().find("note text"), std::string::npos);
        EXPECT_GE(sink.leftOuts.at(LeftOut::Note), 1);
        // A table's row is one block, its cells apart.
        EXPECT_NE(std::ranges::find(sink.events, "Ann, 30"), sink.events.end()) << sink.all();
        const auto metadata = openOffice(book)->metadata();
        EXPECT_EQ(metadata.title, "The Office Book");
        EXPECT_EQ(metadata.author, "Ada Writer");
        EXPECT_TRUE(metadata.language.starts_with("en")) << metadata.language;
        const std::string source = book.extension() == ".odt" ? "content.xml" : "word/document.xml";
        EXPECT_EQ(sink.blocks.front().source, source);
    }
}

// The note is read after its paragraph, and its mark ("1") not at all.
TEST_F(OfficeDocuments, ReadNotesReadsTheNoteAfterItsParagraph) {
    for (const fs::path& book : books()) {
        SCOPED_TRACE(book);
        const RecordingSink sink = readOffice(book, withNotes());
        const auto note = std::ranges::find(sink.events, "The note text lives here.");
        ASSERT_NE(note, sink.events.end()) << sink.all();
        EXPECT_TRUE((note - 1)->starts_with("The first paragraph has a note. It goes on"))
            << sink.all();
        EXPECT_EQ(sink.all().find("note.1"), std::string::npos);
    }
}

// Each run's places lie in its part: its text stands there byte for byte.
TEST_F(OfficeDocuments, RunsArePlacedInTheirParts) {
    for (const fs::path& book : books()) {
        SCOPED_TRACE(book);
        const bool odt = book.extension() == ".odt";
        const test::Outcome part = test::runProgram(
            "/usr/bin/unzip", {"-p", book.string(), odt ? "content.xml" : "word/document.xml"},
            book.parent_path());
        const RecordingSink sink = readOffice(book);
        std::size_t placed = 0;
        for (const DocumentBlock& block : sink.blocks)
            for (const DocumentRun& run : block.runs) {
                ASSERT_FALSE(run.sourceBytes.empty()) << run.text;
                const auto [first, offset] = run.sourceBytes.front();
                const std::size_t end =
                    run.sourceBytes.size() > 1 ? run.sourceBytes[1].first : run.text.size();
                // Its first letters (a cell's comma is not the part's own).
                std::string piece = run.text.substr(first, std::min<std::size_t>(end - first, 4));
                piece = piece.substr(0, std::ranges::find_if_not(piece, ::isalnum) - piece.begin());
                EXPECT_EQ(part.standardOutput.substr(offset, piece.size()), piece) << run.text;
                ++placed;
            }
        EXPECT_GT(placed, 8u);
    }
}

// The French passage carries its language, for its voice; pandoc's Word writer marks none.
TEST_F(OfficeDocuments, AnotherLanguagesPassageCarriesItsLanguage) {
    for (const fs::path& book :
         {at("book.odt"), at("lo/book.docx"), at("lo/changes.docx"), at("lo/changes.odt")}) {
        SCOPED_TRACE(book);
        const RecordingSink sink = readOffice(book);
        bool french = false;
        for (const DocumentBlock& block : sink.blocks)
            for (const DocumentRun& run : block.runs)
                if (run.text.find("Bonjour mes amis") != std::string::npos) {
                    EXPECT_TRUE(run.language.starts_with("fr")) << run.language;
                    EXPECT_EQ(run.text.find("greeting"), std::string::npos) << run.text;
                    french = true;
                } else {
                    EXPECT_FALSE(run.language.starts_with("fr")) << run.text;
                }
        EXPECT_TRUE(french) << sink.all();
    }
}

// An editor's traces: the deletion never read, the insertion read, the comment after its
// paragraph only with readNotes, the text box in place, the image's title only with readAlt.
TEST_F(OfficeDocuments, EditedPagesReadAsTheyNowStand) {
    for (const fs::path& pages : {at("lo/changes.docx"), at("lo/changes.odt")}) {
        SCOPED_TRACE(pages);
        const RecordingSink plain = readOffice(pages);
        const std::string text = plain.all();
        EXPECT_EQ(plain.chapters(), (std::vector<std::string>{"Opening", "Closing"}));
        EXPECT_EQ(text.find("struck"), std::string::npos) << text;
        EXPECT_NE(text.find("Kept words stay here."), std::string::npos) << text;
        EXPECT_NE(text.find("Added fresh words."), std::string::npos) << text;
        EXPECT_NE(text.find("Reviewed text ends."), std::string::npos) << text;
        EXPECT_EQ(text.find("Remark"), std::string::npos) << text;
        EXPECT_NE(text.find("Spaced out words broken here,"), std::string::npos) << text;
        // LibreOffice anchors a Word text box at its paragraph's end.
        EXPECT_NE(text.find(pages.extension() == ".odt"
                                ? "Before the box Boxed words after the box."
                                : "Before the box after the box. Boxed words"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("red square"), std::string::npos) << text;
        EXPECT_GE(plain.leftOuts.at(LeftOut::Image), 1);
        EXPECT_EQ(openOffice(pages)->metadata().title, "Edited Pages");

        const RecordingSink told = readOffice(pages, withNotes(true));
        const auto remark = std::ranges::find(told.events, "Remark of the reviewer.");
        ASSERT_NE(remark, told.events.end()) << told.all();
        EXPECT_EQ(*(remark - 1), "Reviewed text ends.");
        EXPECT_NE(told.all().find("A red square"), std::string::npos) << told.all();
        EXPECT_EQ(told.all().find("struck"), std::string::npos);
    }
}

// Word's own pieces, as Word writes them: a field's result and not its instruction, hidden
// text, a symbol, hyphens, breaks, an endnote, headings by a paragraph's outline level and by a
// style named "heading 1" whose id says nothing.
TEST(OfficeDocument, WordPiecesReadAsWordShowsThem) {
    const test::ScratchDir scratch;
    const std::string styles =
        R"(<w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
        R"(<w:docDefaults><w:rPrDefault><w:rPr><w:lang w:val="de-DE"/></w:rPr></w:rPrDefault></w:docDefaults>)"
        R"(<w:style w:type="paragraph" w:styleId="Titre1"><w:name w:val="heading 1"/></w:style>)"
        R"(<w:style w:type="paragraph" w:styleId="Sub"><w:basedOn w:val="Titre1"/><w:pPr><w:outlineLvl w:val="1"/></w:pPr></w:style>)"
        R"(<w:style w:type="character" w:styleId="Secret"><w:rPr><w:vanish/></w:rPr></w:style></w:styles>)";
    const std::string endnotes =
        R"(<w:endnotes xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
        R"(<w:endnote w:id="2"><w:p><w:r><w:endnoteRef/></w:r><w:r><w:t>An endnote.</w:t></w:r></w:p></w:endnote></w:endnotes>)";
    writeDocx(
        scratch / "pieces.docx",
        R"(<w:p><w:pPr><w:pStyle w:val="Titre1"/></w:pPr><w:r><w:t>First Part</w:t></w:r></w:p>)"
        R"(<w:p><w:r><w:t>Page </w:t></w:r><w:r><w:fldChar w:fldCharType="begin"/></w:r>)"
        R"(<w:r><w:instrText>PAGE \* MERGEFORMAT</w:instrText></w:r><w:r><w:fldChar w:fldCharType="separate"/></w:r>)"
        R"(<w:r><w:t>seven</w:t></w:r><w:r><w:fldChar w:fldCharType="end"/></w:r>)"
        R"(<w:r><w:rPr><w:vanish/></w:rPr><w:t>hidden</w:t></w:r><w:r><w:rPr><w:rStyle w:val="Secret"/></w:rPr><w:t>styled away</w:t></w:r>)"
        R"(<w:r><w:t xml:space="preserve"> of the well</w:t><w:noBreakHyphen/><w:t>known</w:t><w:softHyphen/><w:t>book</w:t>)"
        R"(<w:tab/><w:t>tabbed</w:t><w:br/><w:t>broken</w:t><w:br w:type="page"/><w:sym w:font="Symbol" w:char="F0E0"/><w:sym w:char="263A"/></w:r>)"
        R"(<w:fldSimple w:instr="NUMPAGES"><w:r><w:t>, of nine.</w:t></w:r></w:fldSimple>)"
        R"(<w:r><w:endnoteReference w:id="2"/></w:r></w:p>)"
        R"(<w:p><w:pPr><w:pStyle w:val="Sub"/></w:pPr><w:r><w:t>A Sub Part</w:t></w:r></w:p>)"
        R"(<w:p><w:pPr><w:outlineLvl w:val="0"/></w:pPr><w:r><w:rPr><w:lang w:val="fr-FR"/></w:rPr><w:t>Seconde Partie</w:t></w:r></w:p>)"
        R"(<w:del><w:r><w:delText>gone</w:delText></w:r></w:del><w:p><w:moveFrom><w:r><w:t>moved away</w:t></w:r></w:moveFrom>)"
        R"(<w:ins><w:r><w:t>Inserted.</w:t></w:r></w:ins></w:p>)",
        {{"word/styles.xml", styles}, {"word/endnotes.xml", endnotes}});
    const RecordingSink sink = readOffice(scratch / "pieces.docx");
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{
                  "# First Part", "First Part",
                  "Page seven of the well-knownbook tabbed broken\xE2\x98\xBA, of nine.",
                  "A Sub Part", "# Seconde Partie", "Seconde Partie", "Inserted."}))
        << sink.all();
    EXPECT_EQ(sink.blocks[3].runs.front().language, "fr-FR");
    EXPECT_EQ(sink.blocks[1].runs.front().language, "");
    EXPECT_EQ(openOffice(scratch / "pieces.docx")->metadata().language, "de-DE");
    const RecordingSink noted = readOffice(scratch / "pieces.docx", withNotes());
    EXPECT_EQ(noted.events.at(3), "An endnote.") << noted.all();
}

// Refusals before anything is read, each one line naming the file and the reason.
TEST(OfficeDocument, DamagedOrProtectedDocumentsAreRefusedInWordsThatSaySo) {
    const test::ScratchDir scratch;
    writeDocx(scratch / "bomb.docx",
              "<w:p><w:r><w:t>" + std::string(8 << 20, ' ') + "</w:t></w:r></w:p>");
    writeZip(scratch / "empty.docx", {{"[Content_Types].xml", contentTypes}});
    writeDocx(scratch / "broken.docx", "<w:p><w:r><w:t>unclosed</w:r></w:p>");
    writeZip(
        scratch / "locked.odt",
        {{"mimetype", "application/vnd.oasis.opendocument.text"},
         {"META-INF/manifest.xml",
          R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">)"
          R"(<manifest:file-entry manifest:full-path="content.xml"><manifest:encryption-data/>)"
          R"(</manifest:file-entry></manifest:manifest>)"},
         {"content.xml", "\x01\x02 encrypted bytes"}});
    writeZip(scratch / "sheet.odt",
             {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}});
    std::string ole = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(1000, '\0');
    const std::string stream = "EncryptionInfo";
    for (std::size_t i = 0; i < stream.size(); ++i)
        ole[600 + 2 * i] = stream[i];
    test::writeBytes(scratch / "locked.docx", ole);
    test::writeBytes(scratch / "old.docx", ole.substr(0, 500));
    test::writeBytes(scratch / "text.docx", "Just some words.\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"bomb.docx", "\"word/document.xml\": it would expand more than 100 times (a ZIP bomb)"},
        {"empty.docx", "it has no \"word/document.xml\": it is not a Word document"},
        {"broken.docx", "\"word/document.xml\": line 1: "},
        {"locked.odt", "it is encrypted (protected by a password)"},
        {"sheet.odt", "\"mimetype\": it says"},
        {"locked.docx", "it is protected by a password"},
        {"old.docx", "it is not a Word document"},
        {"text.docx", "it is not a Word document"}};
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        const std::string said = failureOf(scratch / name);
        EXPECT_TRUE(
            said.starts_with("cannot read the document \"" + (scratch / name).string() + "\": "))
            << said;
        EXPECT_NE(said.find(reason), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), std::string::npos) << said;
    }
}

// By content first: a Word document's zip by its content types, an OpenDocument text by its
// stored mimetype, whatever their names; a damaged zip by its name.
TEST_F(OfficeDocuments, KindsAreChosenByContent) {
    fs::copy_file(at("book.docx"), at("word.bin"), fs::copy_options::overwrite_existing);
    fs::copy_file(at("lo/book.odt"), at("text.bin"), fs::copy_options::overwrite_existing);
    test::writeBytes(at("torn.odt"), test::readBytes(at("book.odt")).substr(0, 200));
    EXPECT_EQ(inputKindOfFile(at("word.bin")), InputKind::Docx);
    EXPECT_EQ(inputKindOfFile(at("text.bin")), InputKind::Odt);
    EXPECT_EQ(inputKindOfFile(at("lo/book.docx")), InputKind::Docx);
    EXPECT_EQ(inputKindOfFile(at("torn.odt")), InputKind::Odt);
    EXPECT_EQ(inputKindOf(test::readBytes(at("book.docx")), "a.bin"), InputKind::Text);
    EXPECT_EQ(inputKindNamed("docx"), InputKind::Docx);
    EXPECT_EQ(inputKindNamed("odt"), InputKind::Odt);
    EXPECT_STREQ(inputKindRow(InputKind::Odt).fileKind, "OpenDocument text");
    EXPECT_EQ(readOffice(at("word.bin")).chapters().size(), 2u);
}

} // namespace kestrova::speech::office_document_test
