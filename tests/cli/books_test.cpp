// Books and documents in: the kind each input is read as, and an EPUB's, HTML page's or
// Markdown file's chapters, metadata and language in the outputs. The documents are made by
// pandoc, an independent producer.

#include "books_cases.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

// A short book: a word before the first chapter, then three chapters, one of two paragraphs.
constexpr std::string_view bookMarkdown = "---\n"
                                          "title: The Small Book\n"
                                          "author: Ann Writer\n"
                                          "date: 2020-05-01\n"
                                          "lang: en\n"
                                          "---\n\n"
                                          "Before anything, a word.\n\n"
                                          "# One Beginning\n\n"
                                          "The first chapter starts here. It has two sentences.\n\n"
                                          "# Two Middle\n\n"
                                          "In the middle of things.\n\n"
                                          "Another paragraph.\n\n"
                                          "# Three End\n\n"
                                          "The end is near. Goodbye.\n";

// The book as pandoc writes it: "html" (standalone), "epub" (EPUB 3) or "epub2".
void writeBook(const ScratchDir& scratch, const std::string& to, const std::string& name) {
    test::writePandocBook(scratch.path(), bookMarkdown, to, name);
}

std::string spokenText(const fs::path& json) {
    std::string text;
    for (const Sentence& sentence : timingsOf(json).first)
        text += sentence.text + "|";
    return text;
}

// Each input read as its content, else its ending, else as plain text shows it; --input-type
// names the kind whatever the file holds; in a batch each file is judged on its own.
TEST(Books, KindIsChosenByContentThenEndingOrByName) {
    ScratchDir scratch;
    writeBook(scratch, "html", "page.html");
    fs::copy_file(scratch / "page.html", scratch / "page");
    test::writeBytes(scratch / "fragment.htm", "<p>Hello <b>there</b>.</p>\n");
    test::writeBytes(scratch / "fragment", "<p>Hello <b>there</b>.</p>\n");
    test::writeBytes(scratch / "said.xml", "<?xml version=\"1.0\"?>\n<!-- a comment -->\n"
                                           "<speak version=\"1.1\" xml:lang=\"en\">Hello "
                                           "<break time=\"200ms\"/>there.</speak>\n");
    test::writeBytes(scratch / "notes.md", "# Notes\n\nHello *there*.\n\n```\ncode();\n```\n");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"page"}, "The Small Book|"},                 // HTML by content, no ending
        {{"fragment.htm"}, "Hello there.|"},           // HTML by ending
        {{"fragment"}, "<p>Hello <b>there</b>.</p>|"}, // nothing known: plain text
        {{"said.xml"}, "Hello"},                       // SSML by its root, after a comment
        {{"notes.md"}, "Notes|Hello there.|"},         // Markdown; its code left out
        {{"--read-code", "notes.md"}, "Notes|Hello there.|code();|"},
        {{"--input-type", "text", "fragment.htm"}, "<p>Hello <b>there</b>.</p>|"},
        {{"--input-type", "html", "fragment"}, "Hello there.|"},
        {{"--ssml", "said.xml"}, "Hello"}};
    for (const auto& [arguments, spoken] : cases) {
        SCOPED_TRACE(arguments.back());
        std::vector<std::string> call = {"-q", "-e", english, "--timings", "t.json", "-o", "t.wav"};
        call.insert(call.end(), arguments.begin(), arguments.end());
        const Outcome result = convert(scratch, call);
        ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
        EXPECT_TRUE(spokenText(scratch / "t.json").starts_with(spoken))
            << spokenText(scratch / "t.json");
    }
    // The same bytes in a batch: read as plain text the markup is spoken too, and takes longer.
    fs::copy_file(scratch / "fragment", scratch / "plain");
    const Outcome batch =
        convert(scratch, {"-q", "-e", english, "-d", "out", "fragment.htm", "plain"});
    ASSERT_EQ(batch.exitStatus(), 0) << batch.standardError;
    const auto html = test::soundInfo(scratch / "out/fragment.wav");
    const auto plain = test::soundInfo(scratch / "out/plain.wav");
    ASSERT_TRUE(html && plain);
    EXPECT_GT(plain->frames, html->frames + html->samplerate);
}

// A .txt file is plain text whatever it holds, byte for byte as before any other kind existed.
TEST(Books, TxtFileStaysPlainText) {
    ScratchDir scratch;
    const std::string markup = "<!DOCTYPE html><html><body><p>Hi there.</p></body></html>\n";
    test::writeBytes(scratch / "page.txt", markup);
    const Outcome chosen = convert(scratch, {"-q", "-e", english, "-o", "chosen.wav", "page.txt"});
    const Outcome named = convert(
        scratch, {"-q", "-e", english, "--input-type", "text", "-o", "named.wav", "page.txt"});
    ASSERT_EQ(chosen.exitStatus(), 0) << chosen.standardError;
    ASSERT_EQ(named.exitStatus(), 0) << named.standardError;
    EXPECT_EQ(test::readBytes(scratch / "chosen.wav"), test::readBytes(scratch / "named.wav"));
    ASSERT_EQ(
        convert(scratch, {"-q", "-e", english, "--timings", "t.json", "-o", "t.wav", "page.txt"})
            .exitStatus(),
        0);
    EXPECT_EQ(spokenText(scratch / "t.json"), markup.substr(0, markup.size() - 1) + "|");
}

TEST(Books, ConflictingKindsAndReaderChoicesAreBadUsage) {
    ScratchDir scratch;
    test::writeBytes(scratch / "a.txt", "Hello.\n");
    test::writeBytes(scratch / "a.html", "<p>Hello.</p>\n");
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--ssml", "--input-type", "html", "a.html"}, "--ssml is --input-type ssml"},
        {{"--read-notes", "a.txt"}, "not with plain text or SSML input"},
        {{"--read-alt", "--input-type", "text", "a.html"}, "not with plain text input"},
        {{"--read-code", "--ssml", "a.html"}, "not with SSML input"},
        {{"--input-type", "rtf", "a.txt"}, "--input-type"}};
    for (const auto& [arguments, says] : cases) {
        SCOPED_TRACE(says);
        const Outcome result = convert(scratch, arguments);
        EXPECT_EQ(result.exitStatus(), 2) << result.standardError;
        EXPECT_NE(result.standardError.find(says), std::string::npos) << result.standardError;
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"a.html", "a.txt"}));
    // With one document among the inputs, the choice has something to apply to.
    fs::copy_file(scratch / "a.html", scratch / "b.html");
    EXPECT_EQ(convert(scratch, {"-q", "--read-notes", "-d", "out", "a.txt", "b.html"}).exitStatus(),
              0);
}

// An HTML page's headings are its chapters; its metadata titles the cue sheet and tags the
// file; each sentence names its source and the bytes there that hold it; and 1500 ms of
// silence comes before each chapter but the first sound.
TEST(Books, HtmlChaptersMetadataPlacesAndPauses) {
    ScratchDir scratch;
    writeBook(scratch, "html", "page.html");
    const Outcome result = convert(scratch, {"-e", english, "--timings", "page.json", "--cue-sheet",
                                             "page.cue", "-o", "page.wav", "page.html"});
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_NE(result.standardError.find("chapters found"), std::string::npos);
    const auto [sentences, chapters] = timingsOf(scratch / "page.json");
    ASSERT_GE(chapters.size(), 3u);
    const std::vector<std::string> lastTitles = {chapters[chapters.size() - 3].title,
                                                 chapters[chapters.size() - 2].title,
                                                 chapters.back().title};
    EXPECT_EQ(lastTitles, (std::vector<std::string>{"One Beginning", "Two Middle", "Three End"}));
    const std::string page = test::readBytes(scratch / "page.html");
    const auto sound = test::readSound(scratch / "page.wav");
    ASSERT_TRUE(sound);
    const long pause = 1500L * sound->info.samplerate / 1000;
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        const Sentence& s = sentences[i];
        SCOPED_TRACE(s.text);
        EXPECT_EQ(s.source, "page.html");
        ASSERT_GE(s.start, 0);
        EXPECT_EQ(page.substr(static_cast<std::size_t>(s.start),
                              static_cast<std::size_t>(s.end - s.start)),
                  s.text);
        if (i == 0)
            continue;
        const long gap = s.first - sentences[i - 1].last;
        if (s.chapter != sentences[i - 1].chapter) {
            EXPECT_GE(gap, pause);
        } else {
            EXPECT_LT(gap, pause);
        }
    }
    const std::string sheet = test::readBytes(scratch / "page.cue");
    EXPECT_NE(sheet.find("PERFORMER \"Ann Writer\"\r\nTITLE \"The Small Book\"\r\n"),
              std::string::npos)
        << sheet;
    EXPECT_NE(sheet.find("TITLE \"Two Middle\""), std::string::npos) << sheet;
    // The book's title and author tag the file unless the options name others.
    const Outcome titled = convert(
        scratch, {"-q", "-e", english, "--title", "Mine", "-o", "titled.flac", "page.html"});
    ASSERT_EQ(titled.exitStatus(), 0) << titled.standardError;
    const Outcome tags = test::runProgram("/usr/bin/metaflac",
                                          {"--export-tags-to=-", "titled.flac"}, scratch.path());
    EXPECT_NE(tags.standardOutput.find("TITLE=Mine\n"), std::string::npos) << tags.standardOutput;
    EXPECT_NE(tags.standardOutput.find("ARTIST=Ann Writer\n"), std::string::npos);
    EXPECT_NE(tags.standardOutput.find("DATE=2020-05-01\n"), std::string::npos);
    EXPECT_EQ(tags.standardOutput.find("TITLE=The Small Book"), std::string::npos);
}

// EPUB 3 and EPUB 2 from pandoc: --chapters-only keeps the book's numbers and titles, one
// chapter split keeps its number in its file's name, and a range naming none of the book's
// chapters fails before anything is written.
TEST(Books, EpubChaptersOnlyKeepsTheBooksNumbering) {
    for (const char* to : {"epub", "epub2"}) {
        SCOPED_TRACE(to);
        ScratchDir scratch;
        writeBook(scratch, to, "book.epub");
        ASSERT_EQ(convert(scratch, {"-q", "-e", english, "-j", "4", "--timings", "whole.json", "-o",
                                    "whole.wav", "book.epub"})
                      .exitStatus(),
                  0);
        // The same bytes for any number of workers, the voices of several runs included.
        ASSERT_EQ(convert(scratch, {"-q", "-e", english, "-j", "1", "-o", "one.wav", "book.epub"})
                      .exitStatus(),
                  0);
        EXPECT_EQ(test::readBytes(scratch / "one.wav"), test::readBytes(scratch / "whole.wav"));
        const std::vector<Chapter> whole = timingsOf(scratch / "whole.json").second;
        ASSERT_GE(whole.size(), 3u);
        const Chapter& middle = whole[whole.size() - 2];
        EXPECT_EQ(middle.title, "Two Middle");
        const std::string number = std::to_string(middle.number);
        const Outcome part =
            convert(scratch, {"-q", "-e", english, "--chapters-only", number, "--timings",
                              "part.json", "-o", "part.wav", "book.epub"});
        ASSERT_EQ(part.exitStatus(), 0) << part.standardError;
        const auto [sentences, chapters] = timingsOf(scratch / "part.json");
        ASSERT_EQ(chapters.size(), 1u);
        EXPECT_EQ(chapters[0].number, middle.number);
        EXPECT_EQ(chapters[0].title, "Two Middle");
        ASSERT_EQ(sentences.size(), 3u);
        EXPECT_EQ(sentences[1].text, "In the middle of things.");
        EXPECT_TRUE(sentences[1].source.ends_with(".xhtml")) << sentences[1].source;
        const Outcome split = convert(scratch, {"-q", "-e", english, "--chapters-only", number,
                                                "--split-chapters", "-d", "parts", "book.epub"});
        ASSERT_EQ(split.exitStatus(), 0) << split.standardError;
        EXPECT_EQ(scratch.names("parts"),
                  (std::vector<std::string>{"book-0" + number + "-Two_Middle.wav"}));
        const Outcome none =
            convert(scratch, {"-q", "--chapters-only", "40-", "-o", "none.wav", "book.epub"});
        EXPECT_EQ(none.exitStatus(), 1);
        EXPECT_NE(none.standardError.find("the EPUB book \"book.epub\" has"), std::string::npos)
            << none.standardError;
        EXPECT_FALSE(fs::exists(scratch / "none.wav"));
    }
}

// Without -e the document's language chooses the voice, and the summary says so; a passage
// in another language is read by a voice of that language.
TEST(Books, LanguageChoosesTheVoice) {
    ScratchDir scratch;
    const auto page = [](const char* language, const char* passage) {
        return std::string("<!DOCTYPE html>\n<html lang=\"") + language +
               "\"><head><title>Buch</title></head><body><p>Guten Tag.</p><p lang=\"" + passage +
               "\">Boohoo.</p></body></html>\n";
    };
    test::writeBytes(scratch / "de.html", page("de", "de"));
    test::writeBytes(scratch / "en.html", page("de", "en"));
    const Outcome chosen = convert(scratch, {"-o", "de.wav", "de.html"});
    ASSERT_EQ(chosen.exitStatus(), 0) << chosen.standardError;
    EXPECT_NE(chosen.standardError.find("voice eSpeak NG German (the HTML document's language, "
                                        "de)"),
              std::string::npos)
        << chosen.standardError;
    const Outcome asked = convert(scratch, {"-e", english, "-o", "asked.wav", "de.html"});
    ASSERT_EQ(asked.exitStatus(), 0) << asked.standardError;
    EXPECT_NE(asked.standardError.find("voice eSpeak NG English (America)\n"), std::string::npos)
        << asked.standardError;
    ASSERT_EQ(convert(scratch, {"-q", "-o", "en.wav", "en.html"}).exitStatus(), 0);
    EXPECT_NE(test::readBytes(scratch / "de.wav"), test::readBytes(scratch / "en.wav"));
}
// Where a document names no language, or one no voice speaks, the script of its letters
// chooses the voice, as the summary says: a Chinese README is read in Mandarin, not as
// "Chinese letter" for every character, and Sanskrit by the voice of its script's Hindi.
TEST(Books, ScriptChoosesTheVoiceWhereNoLanguageIsSpoken) {
    ScratchDir scratch;
    test::writeBytes(scratch / "zh.md", "# 说明\n\n这是一个用于测试的中文文档。\n");
    test::writeBytes(scratch / "sa.html", "<html lang=\"sa\"><body><p>धर्मक्षेत्रे कुरुक्षेत्रे "
                                          "समवेता युयुत्सवः।</p></body></html>\n");
    test::writeBytes(scratch / "en.md", "An English line that names 北京 once.\n");
    const struct {
        const char* input;
        const char* voice;
        const char* said;
    } cases[] = {
        {"zh.md", "cmn", "(the Markdown document's script, Han)"},
        {"sa.html", "hi",
         "(no voice speaks the HTML document's language, sa; its script, "
         "Devanagari)"},
        {"en.md", "en-us", "voice eSpeak NG English (America)\n"},
    };
    for (const auto& each : cases) {
        const Outcome chosen = convert(scratch, {"-o", "chosen.wav", each.input});
        ASSERT_EQ(chosen.exitStatus(), 0) << chosen.standardError;
        EXPECT_NE(chosen.standardError.find(each.said), std::string::npos) << chosen.standardError;
        ASSERT_EQ(
            convert(scratch, {"-q", "-e", each.voice, "-o", "asked.wav", each.input}).exitStatus(),
            0);
        EXPECT_EQ(test::readBytes(scratch / "chosen.wav"), test::readBytes(scratch / "asked.wav"))
            << each.input;
    }
    // Files of a batch are planned without being read through, and read in processes of
    // their own: the voice is chosen all the same.
    const Outcome batch = convert(scratch, {"-d", "out", "zh.md", "sa.html"});
    ASSERT_EQ(batch.exitStatus(), 0) << batch.standardError;
    EXPECT_NE(batch.standardError.find("(the Markdown document's script, Han)"), std::string::npos)
        << batch.standardError;
    EXPECT_NE(batch.standardError.find("its script, Devanagari)"), std::string::npos)
        << batch.standardError;
}

// eSpeak NG's Japanese voice reads kana only: a text with kanji is told of once, whether the
// script or -e chose the voice; a text of kana alone has nothing to tell.
TEST(Books, AVoiceThatCannotReadKanjiSaysSoOnce) {
    ScratchDir scratch;
    test::writeBytes(scratch / "kanji.txt", "これは日本語の文書です。漢字も含まれています。\n"
                                            "二行目にも漢字があります。\n");
    test::writeBytes(scratch / "kana.txt", "これは ひらがな だけ です。\n");
    const std::string told = "reads no Han characters (kanji)";
    for (const std::vector<std::string>& choice :
         {std::vector<std::string>{}, std::vector<std::string>{"-e", "ja"}}) {
        std::vector<std::string> arguments = choice;
        arguments.insert(arguments.end(), {"-o", "kanji.wav", "kanji.txt"});
        const Outcome kanji = convert(scratch, arguments);
        ASSERT_EQ(kanji.exitStatus(), 0) << kanji.standardError;
        const std::size_t at = kanji.standardError.find(told);
        EXPECT_NE(at, std::string::npos) << kanji.standardError;
        EXPECT_EQ(kanji.standardError.find(told, at + 1), std::string::npos);
    }
    const Outcome kana = convert(scratch, {"-o", "kana.wav", "kana.txt"});
    ASSERT_EQ(kana.exitStatus(), 0) << kana.standardError;
    EXPECT_NE(kana.standardError.find("(the text file's script, Hiragana)"), std::string::npos)
        << kana.standardError;
    EXPECT_EQ(kana.standardError.find(told), std::string::npos) << kana.standardError;
}

} // namespace
} // namespace kestrova::cli
