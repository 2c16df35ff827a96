// The Markdown reader on real Markdown files: blocks, chapters and metadata as read, what is
// left out unless asked, the places of the text in the file, and the refusals.

#include "speech/speech_error.h"
#include "speech/text/readers/markdown/markdown_document.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <regex>

namespace kestrova::speech {
namespace {

using test::ScratchDir;
using test::writeBytes;

// What a reader gave, in order: "# Title" for a chapter, the text for a block.
class RecordingSink : public DocumentSink {
public:
    void chapter(std::string title) override { events.push_back("# " + title); }
    void block(DocumentBlock block) override {
        EXPECT_EQ(block.runs.size(), 1u);
        events.push_back(block.runs.at(0).text);
        runs.push_back(block.runs.at(0));
    }
    std::vector<std::string> events;
    std::vector<DocumentRun> runs;
};

struct Read {
    DocumentMetadata metadata;
    RecordingSink sink;
    std::string bytes;
};

// Options that read what is left out by default: 'a' alt text, 'n' notes, 'c' code.
DocumentOptions reading(std::string_view what) {
    DocumentOptions options;
    options.readAlt = what.find('a') != std::string_view::npos;
    options.readNotes = what.find('n') != std::string_view::npos;
    options.readCode = what.find('c') != std::string_view::npos;
    return options;
}

Read readFile(const std::string& markdown, const DocumentOptions& options = {}) {
    ScratchDir scratch;
    writeBytes(scratch / "book.md", markdown);
    Read read;
    read.bytes = markdown;
    const auto document = openMarkdown(scratch / "book.md", options);
    read.metadata = document->metadata();
    document->read(read.sink);
    return read;
}

const std::string book = R"(---
title: "The Quiet Harbour: A Novel"
author:
  - Ada Lind
  - Bo Ek
lang: sv-SE
date: '2021-03-04'
...

# Part One

A *calm* morning, with **strong** tea and [the map](https://example.org/map "Map") in hand.
It went on.

## The Boat

- First item
- Second *item*
  continued

> A quoted line.

| Name | Age |
|------|-----|
| Ann  | 31  |
| Ben  |     |

---

![a red boat](boat.png)

```python
print("hello")
```

<div>
raw block
</div>

### Small heading

Text with `inline code` and <b>tags</b>.<br>Then<BR/>more.
)";

TEST(MarkdownDocument, ReadsBlocksChaptersAndFrontMatterAsPandocWritesThem) {
    std::vector<std::string> warnings;
    const Read read = readFile(book, {.warning = [&](const std::string& line) {
                                   warnings.push_back(line);
                               }});
    EXPECT_EQ(read.metadata.title, "The Quiet Harbour: A Novel");
    EXPECT_EQ(read.metadata.author, "Ada Lind");
    EXPECT_EQ(read.metadata.language, "sv-SE");
    EXPECT_EQ(read.metadata.date, "2021-03-04");
    const std::vector<std::string> expected = {
        "# Part One",
        "Part One",
        "A calm morning, with strong tea and the map in hand. It went on.",
        "# The Boat",
        "The Boat",
        "First item",
        "Second item continued",
        "A quoted line.",
        "Name, Age",
        "Ann, 31",
        "Ben",
        "Small heading",
        "Text with inline code and tags. Then more.",
    };
    EXPECT_EQ(read.sink.events, expected);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("book.md\": 1 HTML block(s) left out"), std::string::npos)
        << warnings[0];
}

TEST(MarkdownDocument, ReadsCodeAndAltTextOnlyWhenAskedAndNeverAUrl) {
    const std::string text =
        "# ![Cover](c.png)\n\nSee [docs][ref], ![a chart](https://x.test/c.png)"
        " and <https://auto.test/p>.\n\n    indented code\n\n"
        "~~~\nfenced  code\n~~~\n\n[ref]: https://hidden.test/ref\n";
    const Read plain = readFile(text);
    EXPECT_EQ(plain.sink.events,
              (std::vector<std::string>{"# Cover", "See docs, and https://auto.test/p."}));
    EXPECT_EQ(plain.metadata.title, "Cover");
    const Read asked = readFile(text, reading("ac"));
    EXPECT_EQ(
        asked.sink.events,
        (std::vector<std::string>{"# Cover", "Cover", "See docs, a chart and https://auto.test/p.",
                                  "indented code", "fenced code"}));
    for (const Read* read : {&plain, &asked})
        for (const std::string& event : read->sink.events) {
            EXPECT_EQ(event.find("hidden.test"), std::string::npos) << event;
            EXPECT_EQ(event.find("x.test"), std::string::npos) << event;
        }
}

TEST(MarkdownDocument, LeavesFootnotesOutUnlessAsked) {
    const std::string text = "Said so.[^1] Then more.\n\n[^1]: The source of it.\n";
    EXPECT_EQ(readFile(text).sink.events, std::vector<std::string>{"Said so. Then more."});
    EXPECT_EQ(readFile(text, reading("n")).sink.events,
              (std::vector<std::string>{"Said so. 1 Then more.", "The source of it."}));
}

TEST(MarkdownDocument, TakesItsTitleFromTheFirstTopHeadingAndReadsFrontMatterVariants) {
    EXPECT_EQ(readFile("Intro.\n\n## Second level\n\n# First *Top*\n\n# Later\n").metadata.title,
              "First Top");
    const Read flow = readFile("---\ntitle: 'It''s here' # a comment\nauthor: [\"Lee, A.\", B]\n"
                               "language: de\n---\nBody.\n");
    EXPECT_EQ(flow.metadata.title, "It's here");
    EXPECT_EQ(flow.metadata.author, "Lee, A.");
    EXPECT_EQ(flow.metadata.language, "de");
    EXPECT_EQ(flow.sink.events, std::vector<std::string>{"Body."});
    const Read mapped = readFile("---\ntitle: >\n  Folded\n  title\nauthor:\n- name: Kim Ode\n"
                                 "  affiliation: X\n---\n");
    EXPECT_EQ(mapped.metadata.title, "Folded title");
    EXPECT_EQ(mapped.metadata.author, "Kim Ode");
    // Not closed, or a blank line after the opening: Markdown, read aloud.
    EXPECT_EQ(readFile("---\ntitle: Open\n").sink.events, std::vector<std::string>{"title: Open"});
    EXPECT_EQ(readFile("---\n\ntitle: x\n").metadata.title, "");
    EXPECT_EQ(readFile("---\nA setext heading\n---\n").sink.events,
              (std::vector<std::string>{"# A setext heading", "A setext heading"}));
}

// Double-quoted values with YAML's escapes, single-quoted ones with their doubled quote, read
// as PyYAML (libyaml) reads them, then cleaned as every reader cleans metadata: a control or
// a line separator a space, a direction override left out, no space at the ends.
TEST(MarkdownDocument, ReadsFrontMatterEscapesAsYamlDoes) {
    const std::vector<std::string> titles = {R"("Caf\xE9 No\xEBl")",
                                             R"("Zo\u00EB")",
                                             R"("\U0001F600 smile")",
                                             R"("a\"b\\c\/d")",
                                             R"('it''s \x41')",
                                             R"("tab\there\nnew\rline")",
                                             R"("\0nul\a\b\v\f\e[2J\ end")",
                                             R"("next\Nline\_nbsp\Lsep\Pend")",
                                             R"("\u202Eevil\u202C ok")",
                                             R"("\x9B2J\u0085x")",
                                             R"("caf\u00e9 \u00C9")"};
    ScratchDir scratch;
    std::string lines;
    for (const std::string& title : titles)
        lines += "title: " + title + "\n";
    writeBytes(scratch / "titles.yaml", lines);
    const test::Outcome oracle = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, yaml, unicodedata\n"
         "gap = lambda c: c == ' ' or unicodedata.category(c) in ('Cc', 'Zl', 'Zp')\n"
         "turns = ('LRE', 'RLE', 'LRO', 'RLO', 'PDF', 'LRI', 'RLI', 'FSI', 'PDI')\n"
         "for line in open(sys.argv[1], encoding='utf-8'):\n"
         "  value = yaml.load(line, Loader=yaml.CSafeLoader)['title']\n"
         "  value = ''.join(' ' if gap(c) else c for c in value\n"
         "                  if unicodedata.bidirectional(c) not in turns)\n"
         "  words = [word for word in value.split(' ') if word]\n"
         "  sys.stdout.buffer.write(' '.join(words).encode() + b'\\0')\n",
         "titles.yaml"},
        scratch.path());
    ASSERT_EQ(oracle.exitStatus(), 0) << oracle.standardError;
    std::vector<std::string> expected;
    for (std::size_t at = 0, end; (end = oracle.standardOutput.find('\0', at)) != std::string::npos;
         at = end + 1)
        expected.push_back(oracle.standardOutput.substr(at, end - at));
    ASSERT_EQ(expected.size(), titles.size());
    EXPECT_EQ(expected[0], "Caf\xC3\xA9 No\xC3\xABl");
    for (std::size_t i = 0; i < titles.size(); ++i)
        EXPECT_EQ(readFile("---\ntitle: " + titles[i] + "\n---\nBody.\n").metadata.title,
                  expected[i])
            << titles[i];
}

// A heading's chapter title and the front matter's values come cleaned of C1 controls and
// direction overrides, as the text read aloud does.
TEST(MarkdownDocument, CleansControlsFromChapterTitlesAndFrontMatter) {
    const Read read = readFile("---\nauthor: Ann\xC2\x85Lee\xE2\x80\xAE\n---\n\n"
                               "# One\xC2\x9B\x32J \xE2\x80\xAETwo\n\nText\xC2\x85here.\n");
    EXPECT_EQ(read.metadata.author, "Ann Lee");
    EXPECT_EQ(read.metadata.title, "One 2J Two");
    EXPECT_EQ(read.sink.events,
              (std::vector<std::string>{"# One 2J Two", "One 2J \xE2\x80\xAETwo", "Text here."}));
}

// pandoc's own Markdown, made from an HTML page: its front matter, heading and span attributes
// and fenced divs are pandoc's, not text.
TEST(MarkdownDocument, ReadsTheMarkdownPandocWrites) {
    ScratchDir scratch;
    writeBytes(scratch / "page.html",
               "<html lang=\"fr\"><head><title>Le Titre</title><meta name=\"author\" "
               "content=\"Jean Dupont\"></head><body><h1 id=\"c1\">Chapter One</h1><p>First "
               "<em>para</em> with a <a href=\"http://x.test\">link</a>.</p><div class=\"note\">"
               "<p>In a div.</p></div><h2 id=\"s\" class=\"unnumbered\">Section</h2><p>Line<br>"
               "break, <span class=\"x\">a "
               "span</span>.</p><ul><li>one</li><li>two</li></ul></body></html>");
    test::RunningProgram pandoc(
        "/usr/bin/pandoc", {"-f", "html", "-t", "markdown", "-s", "-o", "page.md", "page.html"},
        scratch.path());
    ASSERT_EQ(pandoc.wait().exitStatus(), 0);
    const auto document = openMarkdown(scratch / "page.md", {});
    EXPECT_EQ(document->metadata().title, "Le Titre");
    EXPECT_EQ(document->metadata().author, "Jean Dupont");
    EXPECT_EQ(document->metadata().language, "fr");
    RecordingSink sink;
    document->read(sink);
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"# Chapter One", "Chapter One", "First para with a link.",
                                        "In a div.", "# Section", "Section",
                                        "Line break, [a span].", "one", "two"}));
}

// Every byte of a block's text that is not white space stands in the file where the block's
// places say (the document has no entities or escapes, which cmark changes).
void expectPlacesPointAtTheirBytes(const Read& read) {
    ASSERT_FALSE(read.sink.runs.empty());
    for (const DocumentRun& run : read.sink.runs) {
        ASSERT_FALSE(run.sourceBytes.empty()) << run.text;
        EXPECT_EQ(run.sourceBytes.front().first, 0u);
        for (std::size_t i = 0; i < run.text.size(); ++i) {
            if (run.text[i] == ' ' || run.text[i] == ',') // a table's cells are joined with ", "
                continue;
            auto entry = run.sourceBytes.begin();
            for (auto it = run.sourceBytes.begin(); it != run.sourceBytes.end(); ++it)
                if (it->first <= i)
                    entry = it;
            const std::uint64_t at = entry->second + (i - entry->first);
            ASSERT_LT(at, read.bytes.size());
            EXPECT_EQ(read.bytes[at], run.text[i]) << "byte " << i << " of \"" << run.text << "\"";
        }
    }
}

TEST(MarkdownDocument, PlacesPointAtTheTextsOwnBytes) {
    const std::string text =
        "\xEF\xBB\xBF---\r\ntitle: T\r\n---\r\n# Caf\xC3\xA9 **d\xC3\xA9j\xC3\xA0**"
        "\r\n\r\n> quoted *one*\r\n> and\ttwo\r\n\r\n- item `code  span` end\r\n"
        "  lazy   line\r\n\r\n| a | **b** |\r\n|---|---|\r\n| c | d |\r\n\r\n"
        "- > ```\r\n  >   indented code\r\n  >     more\r\n  > ```\r\n";
    const Read read = readFile(text, reading("c"));
    EXPECT_EQ(read.sink.events.at(1), "Caf\xC3\xA9 d\xC3\xA9j\xC3\xA0");
    EXPECT_EQ(read.sink.events.back(), "indented code more");
    expectPlacesPointAtTheirBytes(read);
}

TEST(MarkdownDocument, PlacesFallBackToTheNodeWhereCmarkChangedTheText) {
    const Read read = readFile("Tom &amp; Jerry \\*here\\*\n");
    ASSERT_EQ(read.sink.runs.size(), 1u);
    EXPECT_EQ(read.sink.runs[0].text, "Tom & Jerry *here*");
    EXPECT_EQ(read.sink.runs[0].sourceBytes.front(), (std::pair<std::size_t, std::uint64_t>{0, 0}));
}

TEST(MarkdownDocument, DecodesTextThatIsNotUtf8AsPlainTextIsDecodedWithoutPlaces) {
    const std::vector<std::string> expected = {"# Caf\xC3\xA9", "Caf\xC3\xA9",
                                               "Na\xC3\xAFve text."};
    const Read latin = readFile("# Caf\xE9\n\nNa\xEFve text.\n");
    EXPECT_EQ(latin.sink.events, expected);
    EXPECT_TRUE(latin.sink.runs.at(0).sourceBytes.empty());
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string("# Caf\xE9\n\nNa\xEFve text.\n"))
        utf16 += std::string{c, '\0'};
    EXPECT_EQ(readFile(utf16).sink.events, expected);
}

TEST(MarkdownDocument, StopsReadingWhenTheConversionIsCancelled) {
    ScratchDir scratch;
    writeBytes(scratch / "book.md", "# One\n\nText.\n");
    std::atomic<bool> cancel = false;
    DocumentOptions options;
    options.cancel = &cancel;
    const auto document = openMarkdown(scratch / "book.md", options);
    cancel = true;
    RecordingSink sink;
    EXPECT_THROW(document->read(sink), ConversionCancelled);
    EXPECT_TRUE(sink.events.empty());
}

TEST(MarkdownDocument, RefusesWhatItCannotReadNamingTheFileAndTheReason) {
    ScratchDir scratch;
    const auto failureOf = [&](const std::string& name, const std::string& bytes) {
        if (!bytes.empty())
            writeBytes(scratch / name, bytes);
        try {
            openMarkdown(scratch / name, {});
        } catch (const FileError& error) {
            return std::string(error.what());
        }
        return std::string("no failure");
    };
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "book.md\": the Markdown is nested deeper than 128",
                        failureOf("book.md", std::string(200, '>') + " deep\n"));
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "marks.md\": it holds more than 2000000 marks",
                        failureOf("marks.md", std::string(markdownMaxMarks + 1, '\n')));
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "cannot open the text file",
                        failureOf("none.md", ""));
    writeBytes(scratch / "huge.md", "");
    std::filesystem::resize_file(scratch / "huge.md", markdownMaxBytes + 1);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "huge.md\": it is larger than 64 MiB",
                        failureOf("huge.md", ""));
    // Lines counted from the file's first, front matter included.
    std::string row = "|";
    for (int cell = 0; cell < 257; ++cell)
        row += "x|";
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "wide.md\": line 6: a table row of more than 256 cells, the most read",
                        failureOf("wide.md", "---\ntitle: T\n---\n\n|a|b|\n" + row + "\n|-|-|\n"));
    EXPECT_EQ(failureOf("narrow.md", row + "\n\nNo table here.\n"), "no failure");
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "long.md\": line 3: a block of more than 4 MiB or 200000 marks",
                        failureOf("long.md", "Short.\n\n" + std::string(5u << 20, 'a') + "\n"));
}

// A file too large to parse at once is parsed a section at a time, cut at blank lines outside
// fenced code and HTML blocks; what one section refers to in another (a reference link, a
// footnote) is found as in the whole file, and every place is the file's own.
TEST(MarkdownDocument, ALargeFileIsReadSectionBySectionAsAWhole) {
    constexpr int paragraphs = 20000; // some 260 000 marks: two sections
    std::string text = "# Title\n\n```\nfirst\n\nsecond [x]\n```\n\n<!--\n\nhidden\n-->\n\n";
    std::vector<std::size_t> starts;
    for (int i = 0; i < paragraphs; ++i) {
        starts.push_back(text.size());
        text += "Paragraph " + std::to_string(i) + " sees [the map][Map] and a note[^n" +
                std::to_string(i) + "].\n\n";
    }
    for (int i = 0; i < paragraphs; ++i)
        text += "[^n" + std::to_string(i) + "]: Note " + std::to_string(i) + ".\n\n";
    text += "[map]: http://x.test\n";
    const Read read = readFile(text);
    ASSERT_EQ(read.sink.events.size(), paragraphs + 2u);
    EXPECT_EQ(read.sink.events[0], "# Title");
    for (const int i : {0, 1, paragraphs / 2, paragraphs - 1}) {
        const std::size_t at = static_cast<std::size_t>(i) + 2;
        EXPECT_EQ(read.sink.events[at],
                  "Paragraph " + std::to_string(i) + " sees the map and a note.");
        ASSERT_FALSE(read.sink.runs[at - 1].sourceBytes.empty());
        EXPECT_EQ(read.sink.runs[at - 1].sourceBytes.front().second,
                  starts[static_cast<std::size_t>(i)]);
    }
    std::size_t notes = 0;
    for (const std::string& block : readFile(text, reading("n")).sink.events)
        notes += block.starts_with("Note ");
    EXPECT_EQ(notes, static_cast<std::size_t>(paragraphs));
}

// Words of a text, lower-cased, in order: the oracle compares words, not layout.
std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words;
    static const std::regex word("[A-Za-z0-9']+");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word);
         it != std::sregex_iterator(); ++it)
        words.push_back(it->str());
    return words;
}

TEST(MarkdownDocument, SpeaksEveryWordPandocFindsOnceAndInOrder) {
    const std::string text =
        "---\ntitle: \"Not: read\"\nauthor: [Nobody]\n---\n\n# A Tale\n\nIt was *the best* of "
        "times, it was [the worst](http://w.test) of times.\nIt was the age of **wisdom**.\n\n"
        "## Two\n\n1. one thing\n2. another\n   - nested deeper\n\n> quoted\n> lines\n\n"
        "Hard  \nbreak and `code` end, ~~struck~~ at www.example.com.\n\n| Name | Age |\n"
        "|---|---|\n| Ann | 31 |\n\n![alt words](i.png)\n\n```\nblock of code\n```\n";
    ScratchDir scratch;
    writeBytes(scratch / "tale.md", text);
    test::RunningProgram pandoc("/usr/bin/pandoc",
                                {"-f", "gfm+yaml_metadata_block", "-t", "plain", "tale.md"},
                                scratch.path());
    const test::Outcome outcome = pandoc.wait();
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    std::string spoken;
    for (const std::string& block : readFile(text, reading("ac")).sink.events)
        if (block.rfind("# ", 0) != 0)
            spoken += block + "\n";
    // Ordered lists' numbers are pandoc's layout, not read.
    const std::string pandocText =
        std::regex_replace(outcome.standardOutput, std::regex("(^|\n) *[0-9]+\\. "), "$1");
    EXPECT_EQ(wordsOf(spoken), wordsOf(pandocText));
}

} // namespace
} // namespace kestrova::speech
