// One conversion opens its input once, whatever it makes of it: the kind read from its first
// bytes, a book's metadata and cover, its chapters, the side files and every chapter's file
// come from that one opening. strace counts the program's openings of the input's path (its
// own files and libraries are other paths).

#include "support/running_program.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>
#include <set>
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

// LeakSanitizer cannot run under ptrace: in a sanitized build the traced program is checked
// for everything else, and for leaks by the other tests.
std::string withoutLeakChecks() {
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") +
           (sanitizerOptions ? std::string(sanitizerOptions) + ":" : "") + "detect_leaks=0";
}

// The openings of the input's path, by the program and every process it starts.
long openingsOf(const ScratchDir& scratch, const std::string& input,
                const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {
        "-f", "-qq", "-e",     "trace=openat,open", "-o", "trace.txt", KESTROVA_CLI_PATH, "convert",
        "-q", "-o",  "out.wav"};
    arguments.insert(arguments.begin(), {"-E", withoutLeakChecks()});
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

// Bytes read from the input through every descriptor of its one opening (libzip reads through
// copies of it), by the program itself: a worker does not read it.
long bytesReadOf(const std::string& trace, const std::string& input) {
    static const std::regex call(R"((\d+) +(\w+)\((\d+)(, F_DUPFD\w*)?.*= (\d+)$)");
    std::istringstream lines(trace);
    std::set<std::string> descriptors;
    std::string program;
    long bytes = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch found;
        if (line.find("openat(AT_FDCWD, \"" + input + "\"") != std::string::npos) {
            descriptors.insert(line.substr(line.rfind(' ') + 1));
            program = line.substr(0, line.find(' '));
            continue;
        }
        if (!std::regex_match(line, found, call) || found[1] != program ||
            !descriptors.contains(found[3]))
            continue;
        if (found[2] == "dup" || (found[2] == "fcntl" && found[4].matched))
            descriptors.insert(found[5]);
        else if (found[2] == "read" || found[2] == "pread64")
            bytes += std::stol(found[5]);
        else if (found[2] == "close")
            descriptors.erase(found[3]);
    }
    return bytes;
}

// A book is read once: the plan's reading keeps its sentences for the rendering, so each page
// is inflated once (read twice, the book's bytes are read twice). Its one small chapter
// selected, the reading is nearly the whole conversion.
TEST(InputReading, EpubPagesAreInflatedOnce) {
    const ScratchDir scratch;
    std::string book = "# One\n\nA short chapter.\n\n";
    // Words that do not repeat in a pattern, so that the pages outweigh the book's other bytes
    // once compressed, and libzip's own reads of its headers: half a megabyte in ten pages.
    std::uint32_t seed = 12345;
    for (int word = 0; word < 200000; ++word) {
        if (word % 20000 == 0)
            book += "# Part " + std::to_string(word / 20000 + 2) + "\n\n";
        seed = seed * 1103515245u + 12345u;
        book += "abcdefghijklmnopqrstuvwxyz"[(seed >> 16) % 26];
        book += std::to_string((seed >> 8) % 1000) + (word % 12 == 11 ? ".\n\n" : " ");
    }
    test::writeBytes(scratch / "source.md", book);
    const Outcome made = test::runProgram(
        "/usr/bin/pandoc",
        {"-f", "markdown", "-t", "epub3", "--metadata", "title=Big", "-o", "big.epub", "source.md"},
        scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    const Outcome run = test::runProgram(
        "/usr/bin/strace",
        {"-E", withoutLeakChecks(), "-f", "-qq", "-e", "trace=openat,read,pread64,dup,fcntl,close",
         "-o", "trace.txt", KESTROVA_CLI_PATH, "convert", "-q", "--chapters-only", "1", "--timings",
         "x.json", "-o", "out.wav", "big.epub"},
        scratch.path());
    ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
    const auto size = static_cast<long>(fs::file_size(scratch / "big.epub"));
    const long read = bytesReadOf(test::readBytes(scratch / "trace.txt"), "big.epub");
    EXPECT_GE(read, size / 2);
    EXPECT_LT(read, size + size / 2) << "the book is " << size << " bytes";
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
