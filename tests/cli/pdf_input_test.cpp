// PDF documents on the command line: chosen by content, ending or --input-type, read with
// their chapters and pages in the timings, and refused before any sound where nothing can be
// read: a page of only an image, a password to open, a damaged file.

#include "books_cases.h"
#include "support/office_documents.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace kestrova::cli {
namespace pdf_input_test {

// The page and text of each sentence of a timings file, one "PAGE|TEXT" a line.
std::vector<std::string> pagesOf(const fs::path& json) {
    const Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import json, sys\n"
         "for s in json.load(open(sys.argv[1]))['sentences']: print(s.get('page', '-') + '|' + "
         "s['text'])",
         json.string()},
        json.parent_path());
    EXPECT_EQ(read.exitStatus(), 0) << read.standardError;
    std::vector<std::string> lines;
    std::istringstream stream(read.standardOutput);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

const std::vector<test::OdtPiece> body{
    {test::OdtPiece::Heading, "Chapter One"},
    {test::OdtPiece::Paragraph, "The keeper climbed the stairs.[^A note about the stairs.] He "
                                "lit the lamp at dusk and watched the boats come home."},
    {test::OdtPiece::Heading, "Chapter Two"},
    {test::OdtPiece::Paragraph, "A letter came from the mainland."},
};

const std::string imagePage =
    "<html><body><img width=\"300\" height=\"300\" src=\"data:image/png;"
    "base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwAD"
    "hgGAWjR9awAAAABJRU5ErkJggg==\"></body></html>";

class PdfInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDir>();
        const std::string odt = test::flatOdt("Gull Point", "Ada Writer", "", body);
        const fs::path made = test::madeOnce("pdf input\n" + odt + imagePage, [&](const fs::path&
                                                                                      dir) {
            for (const char* name : {"book.fodt", "locked.fodt", "owner.fodt"})
                test::writeBytes(dir / name, odt);
            test::writeBytes(dir / "image.html", imagePage);
            make(dir, {"book.fodt", "image.html"}, "pdf");
            make(
                dir, {"locked.fodt"},
                R"(pdf:writer_pdf_Export:{"EncryptFile":{"type":"boolean","value":"true"},"DocumentOpenPassword":{"type":"string","value":"secret"}})");
            make(
                dir, {"owner.fodt"},
                R"(pdf:writer_pdf_Export:{"RestrictPermissions":{"type":"boolean","value":"true"},"PermissionPassword":{"type":"string","value":"owner"}})");
        });
        for (const char* name : {"book.pdf", "image.pdf", "locked.pdf", "owner.pdf"})
            fs::copy_file(made / name, *scratch_ / name);
        const std::string bytes = test::readBytes(*scratch_ / "book.pdf");
        test::writeBytes(*scratch_ / "cut.pdf", bytes.substr(0, bytes.size() / 2));
        test::writeBytes(*scratch_ / "book.dat", bytes);
    }
    static void TearDownTestSuite() { scratch_.reset(); }

    static void make(const fs::path& dir, const std::vector<std::string>& files,
                     const std::string& filter) {
        const Outcome made = test::officeToPdf(dir, files, filter);
        ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    }

    static inline std::unique_ptr<ScratchDir> scratch_;
};

TEST_F(PdfInput, ReadsChaptersAndGivesEachSentencesPage) {
    const Outcome outcome =
        convert(*scratch_, {"--timings", "t.json", "-o", "out.wav", "book.pdf"});
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_EQ(outcome.standardError.find("warning"), std::string::npos) << outcome.standardError;
    const auto [sentences, chapters] = timingsOf(*scratch_ / "t.json");
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[0].title, "Chapter One");
    EXPECT_EQ(chapters[1].title, "Chapter Two");
    const std::vector<std::string> expected{
        "1|Chapter One", "1|The keeper climbed the stairs.",
        "1|He lit the lamp at dusk and watched the boats come home.", "1|Chapter Two",
        "1|A letter came from the mainland."};
    EXPECT_EQ(pagesOf(*scratch_ / "t.json"), expected);
}

TEST_F(PdfInput, ReadNotesReadsTheFootnote) {
    const Outcome outcome =
        convert(*scratch_, {"--read-notes", "--timings", "n.json", "-o", "n.wav", "book.pdf"});
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    std::string all;
    for (const std::string& line : pagesOf(*scratch_ / "n.json"))
        all += line + "\n";
    EXPECT_NE(all.find("A note about the stairs."), std::string::npos) << all;
}

TEST_F(PdfInput, ChosenByContentOrNamedByInputType) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--timings", "d.json", "-o", "d.wav", "book.dat"},
          {"--input-type", "pdf", "--timings", "d.json", "-o", "d.wav", "book.dat"}}) {
        const Outcome outcome = convert(*scratch_, arguments);
        ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
        EXPECT_EQ(timingsOf(*scratch_ / "d.json").second.size(), 2u);
    }
}

// Each refused in one line naming the file and the reason, status 1, before any output.
TEST_F(PdfInput, UnreadableDocumentsAreRefusedBeforeAnySound) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"image.pdf", "it has no text to read: a scanned document needs OCR first"},
        {"locked.pdf", "it is protected by a password"},
        {"cut.pdf", "it is damaged or not a PDF document"},
    };
    for (const auto& [file, reason] : cases) {
        const Outcome outcome = convert(*scratch_, {"-o", "refused.wav", file});
        EXPECT_EQ(outcome.exitStatus(), 1) << file;
        EXPECT_TRUE(outcome.standardError.starts_with(
            "kestrova-wav-cli: cannot read the PDF document \"" + file + "\": " + reason))
            << outcome.standardError;
        EXPECT_EQ(test::lineCount(outcome.standardError), 1u) << outcome.standardError;
        EXPECT_FALSE(fs::exists(*scratch_ / "refused.wav")) << file;
    }
}

TEST_F(PdfInput, AnOwnerPasswordOnlyRestrictsAndIsRead) {
    const Outcome outcome = convert(*scratch_, {"--timings", "o.json", "-o", "o.wav", "owner.pdf"});
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_EQ(pagesOf(*scratch_ / "o.json").size(), 5u);
}

// The reader is a module the program loads when it opens a PDF: a program without it, or with
// a file of that name it cannot load or that is not its module, still reads every other kind
// and refuses a PDF in one line naming the module and why, before any output.
TEST_F(PdfInput, AProgramWithoutItsReaderModuleRefusesOnlyPdf) {
    ScratchDir bin;
    fs::copy_file(KESTROVA_CLI_PATH, bin / "kestrova-wav-cli");
    const std::string alone = (bin / "kestrova-wav-cli").string();
    test::writeBytes(*scratch_ / "plain.txt", "The keeper climbed the stairs.\n");
    const Outcome text = test::runProgram(alone, {"convert", "-q", "-o", "plain.wav", "plain.txt"},
                                          scratch_->path());
    EXPECT_EQ(text.exitStatus(), 0) << text.standardError;
    const fs::path module = bin / "kestrova-pdf.so";
    const std::vector<std::pair<std::function<void()>, std::string>> cases{
        {[] {}, "cannot be loaded: it is not installed beside the program\n"},
        {[&] { test::writeBytes(module, "not a module"); },
         "cannot be loaded: " + module.string() + ": file too short\n"},
        {[&] {
             fs::copy_file(fs::path(KESTROVA_CLI_PATH).parent_path() / "kestrova-mp4.so", module,
                           fs::copy_options::overwrite_existing);
         },
         "is not the program's\n"},
    };
    for (const auto& [arrange, reason] : cases) {
        arrange();
        const Outcome pdf = test::runProgram(
            alone, {"convert", "-q", "-o", "refused.wav", "book.pdf"}, scratch_->path());
        EXPECT_EQ(pdf.exitStatus(), 1);
        EXPECT_EQ(pdf.standardError, "kestrova-wav-cli: cannot read the PDF document "
                                     "\"book.pdf\": its reader kestrova-pdf.so " +
                                         reason);
        EXPECT_FALSE(fs::exists(*scratch_ / "refused.wav"));
    }
}

} // namespace pdf_input_test
} // namespace kestrova::cli
