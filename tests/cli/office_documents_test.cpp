// Word and OpenDocument documents from pandoc through the command line: their chapters, words,
// notes and tags, their kind found by content or named, and a protected one refused.

#include "books_cases.h"
#include "support/word_match.h"

#include <algorithm>

namespace kestrova::cli::office_documents_test {

const std::string book = R"(---
title: The Office Book
author: Ada Writer
lang: en
---

# Chapter One

The first paragraph has a note.[^1] It goes on about lighthouses.

## A Section

- first item
- second item

# Chapter Two

Last words here, at the end of the book.

[^1]: The note text lives here.
)";

const std::string bookWords =
    "The Office Book Ada Writer Chapter One The first paragraph has a note. It goes on about "
    "lighthouses. A Section first item second item Chapter Two Last words here, at the end of "
    "the book.";

void writeDocuments(const ScratchDir& scratch) {
    test::writeBytes(scratch / "book.md", book);
    for (const char* to : {"book.docx", "book.odt"}) {
        const Outcome made =
            test::runProgram("/usr/bin/pandoc", {"book.md", "-o", to}, scratch.path());
        ASSERT_EQ(made.status, 0) << made.standardError;
    }
}

std::string spokenText(const std::vector<Sentence>& sentences) {
    std::string text;
    for (const Sentence& sentence : sentences)
        text += sentence.text + "\n";
    return text;
}

TEST(OfficeDocuments, ReadWithChaptersTagsAndEveryWordInOrder) {
    ScratchDir scratch;
    writeDocuments(scratch);
    for (const std::string input : {"book.docx", "book.odt"}) {
        SCOPED_TRACE(input);
        const Outcome made = convert(scratch, {"-q", "--timings", "t.json", "-o", "t.flac", input});
        ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
        const auto [sentences, chapters] = timingsOf(scratch / "t.json");
        std::vector<std::string> titles;
        for (const Chapter& chapter : chapters)
            titles.push_back(chapter.title);
        EXPECT_EQ(titles, (std::vector<std::string>{"", "Chapter One", "Chapter Two"}));
        const std::string spoken = spokenText(sentences);
        const test::WordMatch match =
            test::matchWords(test::wordsOf(bookWords), test::wordsOf(spoken));
        EXPECT_GE(match.recall(), 0.99) << spoken;
        EXPECT_GE(match.precision(), 0.99) << spoken;
        const Outcome tags =
            test::runProgram("/usr/bin/metaflac", {"--export-tags-to=-", "t.flac"}, scratch.path());
        EXPECT_NE(tags.standardOutput.find("TITLE=The Office Book\n"), std::string::npos);
        EXPECT_NE(tags.standardOutput.find("ARTIST=Ada Writer\n"), std::string::npos);

        const Outcome noted =
            convert(scratch, {"-q", "--read-notes", "--timings", "n.json", "-o", "n.wav", input});
        ASSERT_EQ(noted.exitStatus(), 0) << noted.standardError;
        const std::vector<Sentence> told = timingsOf(scratch / "n.json").first;
        const auto note = std::ranges::find_if(told, [](const Sentence& sentence) {
            return sentence.text == "The note text lives here.";
        });
        ASSERT_NE(note, told.end()) << spokenText(told);
        EXPECT_EQ((note - 1)->text, "It goes on about lighthouses.");
    }
}

// By content whatever the name; named by --input-type even as a .txt file; the bytes the same.
TEST(OfficeDocuments, KindFoundByContentOrNamed) {
    ScratchDir scratch;
    writeDocuments(scratch);
    fs::copy_file(scratch / "book.docx", scratch / "word.bin");
    fs::copy_file(scratch / "book.odt", scratch / "text.txt");
    ASSERT_EQ(convert(scratch, {"-q", "-o", "a.wav", "book.docx"}).exitStatus(), 0);
    const Outcome found = convert(scratch, {"-o", "b.wav", "word.bin"});
    ASSERT_EQ(found.exitStatus(), 0) << found.standardError;
    EXPECT_NE(found.standardError.find("the Word document's language"), std::string::npos)
        << found.standardError;
    EXPECT_EQ(test::readBytes(scratch / "a.wav"), test::readBytes(scratch / "b.wav"));
    ASSERT_EQ(convert(scratch, {"-q", "-o", "c.wav", "book.odt"}).exitStatus(), 0);
    ASSERT_EQ(
        convert(scratch, {"-q", "--input-type", "odt", "-o", "d.wav", "text.txt"}).exitStatus(), 0);
    EXPECT_EQ(test::readBytes(scratch / "c.wav"), test::readBytes(scratch / "d.wav"));
}

// A Word document protected by a password is an OLE compound file holding "EncryptionInfo".
TEST(OfficeDocuments, ProtectedDocumentRefusedInOneLineAndNothingWritten) {
    ScratchDir scratch;
    std::string ole(1008, '\0');
    ole.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    const std::string stream = "EncryptionInfo";
    for (std::size_t i = 0; i < stream.size(); ++i)
        ole[600 + 2 * i] = stream[i];
    test::writeBytes(scratch / "locked.docx", ole);
    const Outcome refused = convert(scratch, {"-o", "locked.wav", "locked.docx"});
    EXPECT_EQ(refused.exitStatus(), 1);
    EXPECT_EQ(refused.standardError,
              "kestrova-wav-cli: cannot read the document \"locked.docx\": it is protected by a "
              "password: the document cannot be read\n");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"locked.docx"}));
}

} // namespace kestrova::cli::office_documents_test
