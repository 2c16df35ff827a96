// Sentences of every script, as the timings and subtitles of the command line give them.

#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

// The sentence texts of a timings file, read back by Python's JSON parser, one a line.
std::vector<std::string> timedSentences(const fs::path& json) {
    return test::pythonLines("import json, sys\n"
                             "print('\\n'.join(s['text'] for s in json.load(open(sys.argv[1], "
                             "encoding='utf-8'))['sentences']))",
                             json);
}

// The text of each cue of a SubRip file, its lines joined by a space.
std::vector<std::string> cueTexts(const std::string& srt) {
    std::vector<std::string> cues;
    std::istringstream lines(srt);
    int lineOfCue = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            lineOfCue = 0;
            continue;
        }
        if (++lineOfCue == 3)
            cues.push_back(line);
        else if (lineOfCue > 3)
            cues.back() += " " + line;
    }
    return cues;
}

struct ScriptText {
    const char* voice;
    std::vector<std::string> sentences;
    const char* between; // what the script puts between two sentences
};

// Each voice's sentences come out of the timings and the subtitles as the text's own:
// Chinese and Japanese end at 。！？ without a space, Hindi at ।, Arabic at ؟, Thai at an
// ASCII mark with no space after it, English as ever.
TEST(Sentences, OfEveryScriptAreTimedAndSubtitled) {
    const ScriptText texts[] = {
        {"cmn", {"今天天气很好。", "我们去公园散步吧！", "你觉得怎么样？"}, ""},
        {"ja", {"今日はいい天気です。", "公園に行きましょう！", "どう思いますか？"}, ""},
        {"hi", {"आज मौसम अच्छा है।", "चलो पार्क चलते हैं!"}, " "},
        {"ar", {"هل تريد أن تذهب إلى الحديقة؟", "هيا بنا!"}, " "},
        {"th", {"ไปกันเถอะ!", "แมวกินปลา"}, ""},
        {"en-us", {"Hello there.", "How are you?", "Fine!"}, " "},
    };
    for (const ScriptText& text : texts) {
        ScratchDir scratch;
        std::string input;
        for (const std::string& sentence : text.sentences)
            input += (input.empty() ? "" : text.between) + sentence;
        test::writeBytes(scratch / "text.txt", input + "\n");
        const Outcome result =
            test::runProgram(KESTROVA_CLI_PATH,
                             {"convert", "-q", "-e", text.voice, "--timings", "text.json",
                              "--subtitles", "text.srt", "-o", "text.wav", "text.txt"},
                             scratch.path());
        ASSERT_EQ(result.exitStatus(), 0) << text.voice << ": " << result.standardError;
        EXPECT_EQ(timedSentences(scratch / "text.json"), text.sentences) << text.voice;
        EXPECT_EQ(cueTexts(test::readBytes(scratch / "text.srt")), text.sentences) << text.voice;
    }
}

std::string page(const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><title>Page</title></head><body>" + body +
           "</body></html>\n";
}

// Converts one input with timings and subtitles; false where the program fails.
bool convertTimed(const ScratchDir& scratch, const std::string& input, const std::string& name) {
    const Outcome result =
        test::runProgram(KESTROVA_CLI_PATH,
                         {"convert", "-q", "--timings", name + ".json", "--subtitles",
                          name + ".srt", "-o", name + ".wav", input},
                         scratch.path());
    EXPECT_EQ(result.exitStatus(), 0) << input << ": " << result.standardError;
    return result.exitStatus() == 0;
}

// The longest stretch of silence (below -50 dBFS) between a sound's first and last audible
// samples, in milliseconds.
double longestInnerSilenceMs(const fs::path& wav) {
    const auto sound = test::readSound(wav);
    EXPECT_TRUE(sound);
    if (!sound)
        return 0;
    std::size_t longest = 0;
    std::size_t run = 0;
    bool heard = false;
    for (const short sample : sound->samples) {
        if (std::abs(static_cast<int>(sample)) >= 103) {
            longest = heard ? std::max(longest, run) : longest;
            heard = true;
            run = 0;
        } else {
            ++run;
        }
    }
    return 1000.0 * static_cast<double>(longest) / sound->info.samplerate;
}

// A word in another language is read by its language's voice inside its sentence: one
// sentence in the timings and the subtitles, its text whole, and no sentence's pause where
// the voice changes (the engines' own silence at the join is taken out, but for a comma's).
TEST(Sentences, PassageInAnotherLanguageStaysInItsSentence) {
    ScratchDir scratch;
    test::writeBytes(scratch / "mixed.html",
                     page("<p>It is a <i lang=\"fr\">bijou</i> villa.</p>"));
    test::writeBytes(scratch / "english.html", page("<p>It is a <i>bijou</i> villa.</p>"));
    ASSERT_TRUE(convertTimed(scratch, "mixed.html", "mixed"));
    ASSERT_TRUE(convertTimed(scratch, "english.html", "english"));
    const std::vector<std::string> whole{"It is a bijou villa."};
    EXPECT_EQ(timedSentences(scratch / "mixed.json"), whole);
    EXPECT_EQ(cueTexts(test::readBytes(scratch / "mixed.srt")), whole);
    EXPECT_LT(longestInnerSilenceMs(scratch / "mixed.wav"), 150.0);
    EXPECT_NE(test::readBytes(scratch / "mixed.wav"), test::readBytes(scratch / "english.wav"));

    // A comma at a join keeps its pause, as the voice makes it inside a sentence (150 ms).
    test::writeBytes(scratch / "comma.html",
                     page("<p>Oh, <i lang=\"fr\">mon dieu</i>, she said.</p>"));
    ASSERT_TRUE(convertTimed(scratch, "comma.html", "comma"));
    EXPECT_EQ(timedSentences(scratch / "comma.json"),
              std::vector<std::string>{"Oh, mon dieu, she said."});
    EXPECT_GT(longestInnerSilenceMs(scratch / "comma.wav"), 100.0);
}

// Marks the document leaves outside a passage are read with it, never on their own ("colon",
// "exclamation"): the sound is that of the same marks inside the passage.
TEST(Sentences, MarksBesideAPassageAreReadWithIt) {
    const std::pair<const char*, const char*> pairs[] = {
        {"He said <span lang=\"la\">quidem cumis ego</span>: and left.",
         "He said <span lang=\"la\">quidem cumis ego:</span> and left."},
        {"\"Oh, <i lang=\"fr\">mon dieu</i>!\" she cried.",
         "\"Oh, <i lang=\"fr\">mon dieu!\"</i> she cried."},
    };
    for (const auto& [outside, inside] : pairs) {
        SCOPED_TRACE(outside);
        ScratchDir scratch;
        test::writeBytes(scratch / "outside.html", page(std::string("<p>") + outside + "</p>"));
        test::writeBytes(scratch / "inside.html", page(std::string("<p>") + inside + "</p>"));
        ASSERT_TRUE(convertTimed(scratch, "outside.html", "outside"));
        ASSERT_TRUE(convertTimed(scratch, "inside.html", "inside"));
        EXPECT_EQ(test::readBytes(scratch / "outside.wav"),
                  test::readBytes(scratch / "inside.wav"));
        EXPECT_EQ(timedSentences(scratch / "outside.json"),
                  timedSentences(scratch / "inside.json"));
    }
}

// An EPUB of one page with this body.
void writeEpub(const ScratchDir& scratch, const std::string& name, const std::string& body) {
    test::writeBytes(scratch / "page.xhtml",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html "
                     "xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\"><head><title>t</title>"
                     "</head><body>" +
                         body + "</body></html>");
    const Outcome made = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, zipfile\n"
         "opf = '<?xml version=\"1.0\"?><package version=\"3.0\" "
         "xmlns=\"http://www.idpf.org/2007/opf\" unique-identifier=\"id\"><metadata "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:identifier id=\"id\">x</dc:identifier>"
         "<dc:title>t</dc:title><dc:language>en</dc:language></metadata><manifest><item id=\"p\" "
         "href=\"page.xhtml\" media-type=\"application/xhtml+xml\"/></manifest><spine><itemref "
         "idref=\"p\"/></spine></package>'\n"
         "container = '<?xml version=\"1.0\"?><container version=\"1.0\" "
         "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
         "full-path=\"book.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles>"
         "</container>'\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    z.writestr('mimetype', 'application/epub+zip')\n"
         "    z.writestr('META-INF/container.xml', container)\n"
         "    z.writestr('book.opf', opf)\n"
         "    z.write('page.xhtml', 'page.xhtml')\n",
         name},
        scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
}

// A no-break space binds the words beside it in every reader: "Mr." before one ends no
// sentence in plain text, Markdown, HTML or EPUB, while one with ordinary white space after
// it binds nothing; every reader gives the same sentences.
TEST(Sentences, NoBreakSpaceBindsInEveryReader) {
    ScratchDir scratch;
    const std::string nbsp = "\xC2\xA0";
    const std::string text =
        "Mr." + nbsp + "Bennet came home. Mrs." + nbsp + "Bennet did not." + nbsp + " The end.";
    test::writeBytes(scratch / "text.txt", text + "\n");
    test::writeBytes(scratch / "text.md", text + "\n");
    const std::string markup =
        "<p>Mr.&#160;Bennet came home. Mrs.&#160;&#160;Bennet <b>did</b> not.&#160; The end.</p>";
    test::writeBytes(scratch / "text.html", page(markup));
    writeEpub(scratch, "text.epub", markup);
    const std::vector<std::string> expected{"Mr." + nbsp + "Bennet came home.",
                                            "Mrs." + nbsp + "Bennet did not.", "The end."};
    for (const char* input : {"text.txt", "text.md", "text.html", "text.epub"}) {
        SCOPED_TRACE(input);
        const std::string name = fs::path(input).extension().string().substr(1);
        ASSERT_TRUE(convertTimed(scratch, input, name));
        EXPECT_EQ(timedSentences(scratch / (name + ".json")), expected);
    }
}

} // namespace
} // namespace kestrova::cli
