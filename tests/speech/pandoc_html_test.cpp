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

std::string collapsed(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) || (c & 0x80) != 0) {
            word.push_back(c);
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

// Words enough to pass the parsers' buffers (1,000 bytes and less) several times.
std::string longParagraph() {
    std::string text;
    for (int i = 0; i < 700; ++i)
        text += "word" + std::to_string(i) + (i % 9 == 8 ? ".\n" : " ");
    return text.substr(0, text.size() - 1);
}

// A Markdown book with notes, a language span, an image, a list and a table, made into HTML by
// pandoc (an independent producer) as the test runs.
class PandocHtml : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeBytes(scratch_ / "book.md", R"(---
title: The Test Book
author: Ada Writer
date: 2024-05-01
lang: en
---

# Chapter One

The first paragraph has a note.[^1] It goes on.

)" + longParagraph() + R"(

A [Guten Tag]{lang=de} greeting, said twice.[^2]

![A cat sitting](cat.png)

## A Section

> Quoted words stand here.

# Chapter Two

- first item
- second item

| Name | Age |
|------|-----|
| Ann  | 30  |

[^1]: The note text lives here.
[^2]: Another remark.
)");
        const test::Outcome made = test::runProgram(
            "/usr/bin/pandoc", {"-s", "book.md", "-o", "book.html"}, scratch_.path());
        ASSERT_EQ(made.status, 0) << made.standardError;
    }

    RecordingSink read(const DocumentOptions& options = {}) {
        RecordingSink sink;
        openHtml(scratch_ / "book.html", options)->read(sink);
        return sink;
    }

    test::ScratchDir scratch_;
};

TEST_F(PandocHtml, ReadsBlocksInOrderWithChaptersAndNoNotes) {
    const auto document = openHtml(scratch_ / "book.html", {});
    EXPECT_EQ(document->metadata().title, "The Test Book");
    EXPECT_EQ(document->metadata().author, "Ada Writer");
    EXPECT_EQ(document->metadata().date, "2024-05-01");
    EXPECT_EQ(document->metadata().language, "en");
    const RecordingSink sink = read();
    const std::vector<std::string> expected = {"# The Test Book",
                                               "The Test Book",
                                               "Ada Writer",
                                               "2024-05-01",
                                               "# Chapter One",
                                               "Chapter One",
                                               "The first paragraph has a note. It goes on.",
                                               collapsed(longParagraph()),
                                               "A Guten Tag greeting, said twice.",
                                               "# A Section",
                                               "A Section",
                                               "Quoted words stand here.",
                                               "# Chapter Two",
                                               "Chapter Two",
                                               "first item",
                                               "second item",
                                               "Name, Age",
                                               "Ann, 30"};
    EXPECT_EQ(sink.events, expected) << sink.all();
}

TEST_F(PandocHtml, ReadNotesKeepsMarkersAndNoteTextAndReadAltTheImage) {
    const std::string all = read(reading(true, true)).all();
    EXPECT_NE(all.find("has a note.1 It goes on."), std::string::npos) << all;
    EXPECT_NE(all.find("The note text lives here.\n"), std::string::npos) << all; // no "↩"
    EXPECT_NE(all.find("Another remark."), std::string::npos) << all;
    // The caption repeats the alt text, hidden: the words are read once.
    const std::vector<std::string> words = wordsOf(all);
    EXPECT_EQ(std::count(words.begin(), words.end(), "cat"), 1) << all;
    EXPECT_EQ(read().all().find("cat"), std::string::npos);
}

// The same book as pandoc's EPUB 3 and EPUB 2 (whose notes carry no epub:type), its first
// chapter's page read as the EPUB reader hands it over.
TEST_F(PandocHtml, EpubPagesOfBothVersionsReadTheirTextWithoutNotes) {
    for (const std::string format : {"epub3", "epub2"}) {
        const test::Outcome made = test::runProgram(
            "/usr/bin/pandoc", {"-t", format, "book.md", "-o", "book.epub"}, scratch_.path());
        ASSERT_EQ(made.status, 0) << made.standardError;
        const test::Outcome page = test::runProgram(
            "/usr/bin/python3",
            {"-c", "import sys, zipfile; sys.stdout.write(zipfile.ZipFile('book.epub')"
                   ".read('EPUB/text/ch001.xhtml').decode())"},
            scratch_.path());
        ASSERT_EQ(page.status, 0) << page.standardError;
        XhtmlPage where = pageNamed("EPUB/text/ch001.xhtml");
        where.bytes = page.standardOutput;
        const std::set<std::pair<std::string, std::string>> notes = {
            {"EPUB/text/ch001.xhtml", "fn1"}, {"EPUB/text/ch001.xhtml", "fn2"}};
        EXPECT_EQ(noteTargetsOf(where), notes) << format;
        for (const auto& [file, id] : notes)
            where.noteIds.insert(id);
        std::vector<std::string> expected = {"Chapter One",
                                             "The first paragraph has a note. It goes on.",
                                             collapsed(longParagraph()),
                                             "A Guten Tag greeting, said twice.",
                                             "A cat sitting",
                                             "A Section",
                                             "Quoted words stand here."};
        if (format == "epub3") // the caption repeats the image's alt text, hidden
            expected.erase(expected.begin() + 4);
        const RecordingSink sink = readPage(page.standardOutput, {}, where);
        EXPECT_EQ(sink.events, expected) << format << "\n" << sink.all();
        expectPlacesInPage(sink.blocks, page.standardOutput);
        const std::string all = readPage(page.standardOutput, reading(false, true), where).all();
        EXPECT_NE(all.find("has a note.1 It"), std::string::npos) << all;
        EXPECT_NE(all.find("The note text lives here.\n"), std::string::npos) << all;
    }
}

TEST_F(PandocHtml, RunsCarryTheirLanguageAndTheirPlaceInTheFile) {
    const RecordingSink sink = read();
    bool german = false;
    for (const DocumentBlock& block : sink.blocks)
        for (const DocumentRun& run : block.runs) {
            german = german || (run.language == "de" && run.text == "Guten Tag ");
            EXPECT_TRUE(run.language == "en" || run.language == "de") << run.text;
        }
    EXPECT_TRUE(german) << sink.all();
    expectPlacesInPage(sink.blocks, test::readBytes(scratch_ / "book.html"));
}
} // namespace
} // namespace kestrova::speech
