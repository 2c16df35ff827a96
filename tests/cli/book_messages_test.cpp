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

// Lines of standard error, each checked to stay a line of the program's own: no escape or
// bell reaches the terminal, no value floods it.
std::vector<std::string> messageLines(const std::string& standardError) {
    std::vector<std::string> lines;
    std::istringstream stream(standardError);
    for (std::string line; std::getline(stream, line);) {
        EXPECT_EQ(line.find_first_of("\x1B\x07\r"), std::string::npos) << line;
        EXPECT_EQ(line.find("\xC2\x9B"), std::string::npos) << line;
        EXPECT_LT(line.size(), 300u) << line;
        lines.push_back(line);
    }
    return lines;
}

// What a document says (its language, a passage's) and the input's own name never forge a
// line or flood one: each is quoted as file names are, and cut; the summary shows a plain
// language bare as it always has.
TEST(Books, DocumentValuesInMessagesStayOnTheirLine) {
    ScratchDir scratch;
    const auto page = [](const std::string& language, const std::string& passage) {
        return "<html lang=\"" + language + "\"><body><h1>H</h1><p>Hi.</p><p lang=\"" + passage +
               "\">Yo.</p></body></html>";
    };
    const std::string forged = "a\nkestrova-wav-cli: done.html";
    test::writeBytes(scratch / "escapes.html", page("en\x1B[2J\x1B]0;owned\x07", "en"));
    test::writeBytes(scratch / "long.html", page(std::string(10000, 'x'), "en"));
    test::writeBytes(scratch / forged, page("en", "zz\xC2\x9B"));

    const Outcome escapes = convert(scratch, {"-o", "out.wav", "escapes.html"});
    ASSERT_EQ(escapes.exitStatus(), 0) << escapes.standardError;
    const std::vector<std::string> said = messageLines(escapes.standardError);
    ASSERT_EQ(said.size(), 2u) << escapes.standardError;
    EXPECT_TRUE(
        said[0].ends_with("(no voice speaks the HTML document's language, en [2J ]0;owned)"))
        << said[0];

    const Outcome cutLong = convert(scratch, {"-o", "out.wav", "long.html"});
    ASSERT_EQ(cutLong.exitStatus(), 0) << cutLong.standardError;
    const std::vector<std::string> cut = messageLines(cutLong.standardError);
    ASSERT_EQ(cut.size(), 2u) << cutLong.standardError;
    EXPECT_TRUE(cut[0].ends_with("language, \"" + std::string(40, 'x') + "..." +
                                 std::string(40, 'x') + "\")"))
        << cut[0];

    const Outcome named = convert(scratch, {"-o", "out.wav", forged});
    ASSERT_EQ(named.exitStatus(), 0) << named.standardError;
    const std::vector<std::string> lines = messageLines(named.standardError);
    ASSERT_EQ(lines.size(), 3u) << named.standardError;
    EXPECT_EQ(lines[0], "kestrova-wav-cli: warning: no voice speaks the language \"zz\" of "
                        "'a'$'\\n''kestrova-wav-cli: done.html': eSpeak NG English (America) "
                        "reads it");
    EXPECT_NE(lines[1].find("(the HTML document's language, en)"), std::string::npos) << lines[1];
}

// What a document's reading says is said once, though the plan reads it for its chapters
// before the conversion renders it; a plan that is refused before anything is rendered says
// nothing of it, as a conversion that never read the document would not.
TEST(Books, ReadingWarningsAreToldOnceAndOnlyByAConversion) {
    ScratchDir scratch;
    test::writeBytes(scratch / "page.html",
                     "<html lang=\"en\"><body><h1>One</h1><p>Hi.</p><p lang=\"zz\">Yo.</p>"
                     "<h1>Two</h1><p lang=\"zz\">Yo again.</p></body></html>");
    const std::string unspoken = "no voice speaks the language \"zz\"";
    const auto told = [&](const std::string& standardError) {
        std::size_t count = 0;
        for (const std::string& line : messageLines(standardError))
            count += line.find(unspoken) != std::string::npos;
        return count;
    };
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--timings", "x.json"},
          std::vector<std::string>{"--chapters-only", "2", "--cue-sheet", "x.cue"},
          std::vector<std::string>{"-j", "1", "--split-chapters"}}) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {"-o", "out.wav", "page.html"});
        const Outcome converted = convert(scratch, arguments);
        ASSERT_EQ(converted.exitStatus(), 0) << converted.standardError;
        EXPECT_EQ(told(converted.standardError), 1u) << converted.standardError;
    }
    const Outcome refused =
        convert(scratch, {"--chapters-only", "3", "-o", "none.wav", "page.html"});
    EXPECT_EQ(refused.exitStatus(), 1);
    EXPECT_EQ(told(refused.standardError), 0u) << refused.standardError;
    EXPECT_NE(refused.standardError.find("names none of its chapters"), std::string::npos)
        << refused.standardError;
    EXPECT_FALSE(fs::exists(scratch / "none.wav"));
}

// Controls in an HTML page's title, author and headings (C1's NEL and CSI, a line separator, a
// right-to-left override) reach neither the tags, nor the chapters, nor the cue sheet, nor the
// timings: each is a space there, the override left out.
TEST(Books, ControlsInTitlesReachNoOutput) {
    ScratchDir scratch;
    test::writeBytes(scratch / "page.html",
                     "<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Dark\xC2\x85Tale"
                     "\xE2\x80\xAE</title><meta name=\"author\" content=\"Ann\xC2\x9BLee\"></head>"
                     "<body><h1>One\xE2\x80\xA8Start</h1><p>Hi\xC2\x85there.</p></body></html>");
    const Outcome result =
        convert(scratch, {"-q", "-e", english, "--cue-sheet", "page.cue", "--timings", "page.json",
                          "-o", "page.flac", "page.html"});
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    const Outcome tags =
        test::runProgram("/usr/bin/metaflac", {"--export-tags-to=-", "page.flac"}, scratch.path());
    for (const char* tag :
         {"\nTITLE=Dark Tale\n", "\nARTIST=Ann Lee\n", "\nCHAPTER001NAME=One Start\n"})
        EXPECT_NE(("\n" + tags.standardOutput).find(tag), std::string::npos) << tags.standardOutput;
    const std::string sheet = test::readBytes(scratch / "page.cue");
    EXPECT_NE(sheet.find("PERFORMER \"Ann Lee\"\r\nTITLE \"Dark Tale\"\r\n"), std::string::npos)
        << sheet;
    EXPECT_NE(sheet.find("TITLE \"One Start\""), std::string::npos) << sheet;
    const auto [sentences, chapters] = timingsOf(scratch / "page.json");
    ASSERT_EQ(chapters.size(), 1u);
    EXPECT_EQ(chapters[0].title, "One Start");
    ASSERT_FALSE(sentences.empty());
    EXPECT_EQ(sentences.back().text, "Hi there.");
}

// An MP3 file takes the book's tags whatever their characters; an MP3 stream, whose tags are
// Latin-1 only, leaves out the one it cannot hold rather than failing a conversion that never
// asked for it, and keeps the one it can.
TEST(Books, Mp3StreamKeepsOnlyTheTagsItCanHold) {
    ScratchDir scratch;
    test::writeBytes(scratch / "page.html",
                     "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>"
                     "\xE6\x97\xA5\xE6\x9C\xAC Tale</title><meta name=\"author\" "
                     "content=\"Ren\xC3\xA9"
                     "e\"></head><body><p>Hello.</p></body></html>\n");
    const auto tagsOf = [&](const char* file) {
        return test::runProgram(
                   "/usr/bin/ffprobe",
                   {"-v", "error", "-show_entries", "format_tags", "-of", "default=nw=1", file},
                   scratch.path())
            .standardOutput;
    };
    const Outcome file = convert(scratch, {"-q", "-e", english, "-o", "page.mp3", "page.html"});
    ASSERT_EQ(file.exitStatus(), 0) << file.standardError;
    EXPECT_NE(tagsOf("page.mp3").find("title=\xE6\x97\xA5\xE6\x9C\xAC Tale"), std::string::npos)
        << tagsOf("page.mp3");
    const Outcome stream =
        convert(scratch, {"-q", "-e", english, "--type", "mp3", "-o", "-", "page.html"});
    ASSERT_EQ(stream.exitStatus(), 0) << stream.standardError;
    test::writeBytes(scratch / "stream.mp3", stream.standardOutput);
    EXPECT_EQ(tagsOf("stream.mp3").find("Tale"), std::string::npos) << tagsOf("stream.mp3");
    EXPECT_NE(tagsOf("stream.mp3").find("artist=Ren"), std::string::npos) << tagsOf("stream.mp3");
}

// A page is read by what its bytes are, not by a charset it wrongly claims: ASCII or UTF-8
// that says UTF-32 is UTF-8; Latin-1 that says UTF-32, which libxml2 cannot convert it from, is
// read as plain text reads it. Each sounds byte for byte as the page in UTF-8 that says so, and
// nothing of libxml2's reaches standard error.
TEST(Books, PagesAreReadByWhatTheirBytesAre) {
    ScratchDir scratch;
    const auto page = [](bool xhtml, const std::string& charset, const std::string& text) {
        const std::string body =
            "<body><h1>Caf" + text + "</h1><p>Hello there.</p></body></html>\n";
        return xhtml
                   ? "<?xml version=\"1.0\" encoding=\"" + charset +
                         "\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>T"
                         "</title></head>" +
                         body
                   : "<html><head><meta charset=\"" + charset + "\"><title>T</title></head>" + body;
    };
    for (const bool xhtml : {false, true}) {
        const std::string ending = xhtml ? ".xhtml" : ".html";
        test::writeBytes(scratch / ("utf8" + ending), page(xhtml, "utf-8", "\xC3\xA9"));
        test::writeBytes(scratch / ("ascii" + ending), page(xhtml, "UTF-32", "&#233;"));
        test::writeBytes(scratch / ("utf8-claims-utf32" + ending),
                         page(xhtml, "UTF-32", "\xC3\xA9"));
        test::writeBytes(scratch / ("latin1-claims-utf32" + ending), page(xhtml, "UTF-32", "\xE9"));
        test::writeBytes(scratch / ("latin1-claims-unknown" + ending),
                         page(xhtml, "x-no-such-charset", "\xE9"));
        const auto sound = [&](const std::string& name) {
            const Outcome outcome =
                convert(scratch, {"-q", "-f", "4", "-o", name + ".wav", name + ending});
            EXPECT_EQ(outcome.exitStatus(), 0) << name << ending;
            EXPECT_EQ(outcome.standardError, "") << name << ending;
            return test::readBytes(scratch / (name + ".wav"));
        };
        const std::string expected = sound("utf8");
        ASSERT_GT(expected.size(), 8000u) << "a second of sound at least";
        for (const char* name :
             {"ascii", "utf8-claims-utf32", "latin1-claims-utf32", "latin1-claims-unknown"})
            EXPECT_TRUE(sound(name) == expected) << name << ending;
    }
}

} // namespace
} // namespace kestrova::cli
