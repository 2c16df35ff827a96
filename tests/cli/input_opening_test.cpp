// One conversion opens its input once, whatever it makes of it: the kind read from its first
// bytes, a book's metadata and cover, its chapters, the side files and every chapter's file
// come from that one opening. strace counts the program's openings of the input's path (its
// own files and libraries are other paths).

#include "support/running_program.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

constexpr std::string_view bookMarkdown = "---\n"
                                          "title: The Small Book\n"
                                          "lang: en\n"
                                          "---\n\n"
                                          "Before anything, a word.\n\n"
                                          "# One Beginning\n\n"
                                          "The first chapter starts here.[^1] Two sentences.\n\n"
                                          "# Two End\n\n"
                                          "The end is near. Goodbye.\n\n"
                                          "[^1]: A note at the foot.\n";

constexpr std::string_view bookText = "Before anything, a word.\n\n"
                                      "Chapter 1: One Beginning\n\n"
                                      "The first chapter starts here. Two sentences.\n\n"
                                      "Chapter 2: Two End\n\n"
                                      "The end is near. Goodbye.\n";

// The input as pandoc writes it from the Markdown ("epub", "epub2", "html"), or as it is.
void writeInput(const ScratchDir& scratch, const std::string& name) {
    const std::string ending = fs::path(name).extension().string();
    if (ending == ".txt") {
        test::writeBytes(scratch / name, bookText);
        return;
    }
    test::writeBytes(scratch / "source.md", bookMarkdown);
    if (ending == ".md") {
        fs::rename(scratch / "source.md", scratch / name);
        return;
    }
    const std::string to = name == "book2.epub" ? "epub2" : ending == ".epub" ? "epub3" : "html";
    const Outcome made = test::runProgram(
        "/usr/bin/pandoc", {"-s", "-f", "markdown", "-t", to, "-o", name, "source.md"},
        scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
}

// The openings of the input's path, by the program and every process it starts.
long openingsOf(const ScratchDir& scratch, const std::string& input,
                const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {
        "-f", "-qq", "-e",     "trace=openat,open", "-o", "trace.txt", KESTROVA_CLI_PATH, "convert",
        "-q", "-o",  "out.wav"};
    // LeakSanitizer cannot run under ptrace: in a sanitized build the traced program is checked
    // for everything else, and for leaks by the other tests.
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    arguments.insert(arguments.begin(),
                     {"-E", std::string("ASAN_OPTIONS=") +
                                (sanitizerOptions ? std::string(sanitizerOptions) + ":" : "") +
                                "detect_leaks=0"});
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(input);
    const Outcome run = test::runProgram("/usr/bin/strace", arguments, scratch.path());
    EXPECT_EQ(run.exitStatus(), 0) << run.standardError;
    std::istringstream trace(test::readBytes(scratch / "trace.txt"));
    long openings = 0;
    for (std::string line; std::getline(trace, line);)
        openings += line.find("\"" + input + "\"") != std::string::npos;
    return openings;
}

const std::vector<std::string> sideFiles = {"--cue-sheet", "x.cue",  "--subtitles",     "x.srt",
                                            "--timings",   "x.json", "--chapters-only", "1-"};
const std::vector<std::string> splitChapters = {"--split-chapters", "--timings", "x.json"};

class InputOpening : public ::testing::TestWithParam<std::string> {};

TEST_P(InputOpening, OnceWithSideFilesAndAChapterRange) {
    const ScratchDir scratch;
    writeInput(scratch, GetParam());
    EXPECT_EQ(openingsOf(scratch, GetParam(), sideFiles), 1);
    EXPECT_FALSE(test::readBytes(scratch / "x.cue").empty());
}

TEST_P(InputOpening, OnceWithSplitChapters) {
    const ScratchDir scratch;
    writeInput(scratch, GetParam());
    EXPECT_EQ(openingsOf(scratch, GetParam(), splitChapters), 1);
    // The chapters' files, found from that one opening.
    std::vector<std::string> chapterFiles;
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path()))
        if (entry.path().filename().string().starts_with("out-"))
            chapterFiles.push_back(entry.path().filename().string());
    std::sort(chapterFiles.begin(), chapterFiles.end());
    ASSERT_GE(chapterFiles.size(), 3u);
    EXPECT_TRUE(chapterFiles.back().ends_with("Two_End.wav")) << chapterFiles.back();
}

TEST_P(InputOpening, OnceWithNotesRead) {
    const ScratchDir scratch;
    writeInput(scratch, GetParam());
    const std::string input = GetParam();
    const bool document = !input.ends_with(".txt");
    EXPECT_EQ(openingsOf(scratch, input,
                         document ? std::vector<std::string>{"--read-notes"}
                                  : std::vector<std::string>{}),
              1);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, InputOpening,
                         ::testing::Values("book.epub", "book2.epub", "book.html", "book.md",
                                           "book.txt"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

} // namespace
} // namespace kestrova::cli
