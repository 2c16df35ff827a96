// Choosing chapters and pausing before them, on the sample book, read back from the sound.

#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

Outcome convertBook(const ScratchDir& scratch, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"convert", "-q", "-e", "eSpeak NG English (America)"});
    arguments.push_back("book.txt");
    return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
}

void copyBook(const ScratchDir& scratch) {
    test::writeBytes(scratch / "book.txt", test::readBytes(KESTROVA_SAMPLES_DIR "/book.txt"));
}

struct TimedChapter {
    unsigned number = 0;
    std::string title;
    long start = 0, heading = 0, end = 0;
    long lastSampleBefore = -1; // the last sample of the sentence before its heading
    long sentences = 0;
};

// The chapters of a timings file, read back by Python's JSON parser.
std::vector<TimedChapter> timedChapters(const fs::path& json) {
    const Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import json, sys\n"
         "t = json.load(open(sys.argv[1], encoding='utf-8'))\n"
         "for c in t['chapters']:\n"
         "  before = [s['last_sample'] for s in t['sentences'] if s['last_sample'] < "
         "c['heading_sample']]\n"
         "  print(c['number'], c['start_sample'], c['heading_sample'], c['end_sample'], "
         "max(before, default=-1), "
         "sum(s['chapter'] == c['number'] for s in t['sentences']), c['title'])",
         json.string()},
        json.parent_path());
    EXPECT_EQ(read.exitStatus(), 0) << read.standardError;
    std::vector<TimedChapter> chapters;
    std::istringstream lines(read.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        TimedChapter c;
        fields >> c.number >> c.start >> c.heading >> c.end >> c.lastSampleBefore >> c.sentences;
        std::getline(fields >> std::ws, c.title); // none for chapter 0
        chapters.push_back(c);
    }
    return chapters;
}

// Each heading but the first sound has at least the pause of silence before it, ending the
// chapter before; the chapter still starts at its heading's first sample.
TEST(ChapterOptions, PauseComesBeforeEachHeading) {
    ScratchDir scratch;
    copyBook(scratch);
    const Outcome result = convertBook(
        scratch, {"--chapter-pause", "1500", "--timings", "book.json", "-o", "book.wav"});
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    const auto sound = test::readSound(scratch / "book.wav");
    ASSERT_TRUE(sound);
    const long pause = 1500L * sound->info.samplerate / 1000;
    const std::vector<TimedChapter> chapters = timedChapters(scratch / "book.json");
    ASSERT_EQ(chapters.size(), 6u); // the foreword, then five headings
    for (std::size_t i = 1; i < chapters.size(); ++i) {
        const TimedChapter& chapter = chapters[i];
        SCOPED_TRACE(chapter.title);
        EXPECT_EQ(chapter.start, chapter.heading);
        EXPECT_EQ(chapters[i - 1].end, chapter.start);
        EXPECT_GE(chapter.heading - chapter.lastSampleBefore - 1, pause);
        long quiet = 0; // below the engine's silence, read back from the wave
        while (quiet < chapter.heading &&
               std::abs(sound->samples[static_cast<std::size_t>(chapter.heading - quiet - 1)]) <
                   103)
            ++quiet;
        EXPECT_GE(quiet, pause);
    }
}

// Only chapters 2 and 3 are rendered, with the book's numbers, titles and sentences, and the
// sound is as long as their part of the whole book's, within a tenth of a second a chapter.
TEST(ChapterOptions, OnlyTheChosenChaptersAreRendered) {
    ScratchDir scratch;
    copyBook(scratch);
    ASSERT_EQ(convertBook(scratch, {"--chapters", "--timings", "whole.json", "-o", "whole.wav"})
                  .exitStatus(),
              0);
    const Outcome part = convertBook(
        scratch, {"--chapters-only", "2-3", "--timings", "part.json", "-o", "part.wav"});
    ASSERT_EQ(part.exitStatus(), 0) << part.standardError;
    const std::vector<TimedChapter> whole = timedChapters(scratch / "whole.json");
    const std::vector<TimedChapter> chosen = timedChapters(scratch / "part.json");
    ASSERT_EQ(whole.size(), 6u);
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].number, 2u);
    EXPECT_EQ(chosen[0].title, "Chapter Two");
    EXPECT_EQ(chosen[1].number, 3u);
    EXPECT_EQ(chosen[1].title, "Chapter 3: The Storm");
    const auto info = test::soundInfo(scratch / "part.wav");
    ASSERT_TRUE(info);
    EXPECT_EQ(chosen[0].start, 0);
    EXPECT_EQ(chosen[1].end, info->frames);
    EXPECT_EQ(chosen[0].sentences, whole[2].sentences);
    EXPECT_EQ(chosen[1].sentences, whole[3].sentences);
    // eSpeak NG carries state from chunk to chunk within a worker's run, and the runs begin
    // elsewhere when chapters are passed over: the first sentences differ by some milliseconds.
    EXPECT_NEAR(static_cast<double>(info->frames),
                static_cast<double>(whole[3].end - whole[2].start), 2 * 0.1 * info->samplerate);
}

// Split, the one chapter chosen keeps its number in its file's name.
TEST(ChapterOptions, SplitFileKeepsTheBooksNumber) {
    ScratchDir scratch;
    copyBook(scratch);
    const Outcome result =
        convertBook(scratch, {"--chapters-only", "4", "--split-chapters", "-o", "part.wav"});
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(scratch.names(),
              (std::vector<std::string>{"book.txt", "part-04-Chapter_4_The_Lamp.wav"}));
}

struct RangeCase {
    const char* name;
    const char* range;
    int status;
    const char* says;
};

class ChapterRanges : public ::testing::TestWithParam<RangeCase> {};

// A malformed range is bad usage; one naming none of the book's chapters fails before anything
// is written.
TEST_P(ChapterRanges, AreRefusedBeforeAnythingIsWritten) {
    ScratchDir scratch;
    copyBook(scratch);
    const Outcome result =
        convertBook(scratch, {"--chapters-only", GetParam().range, "-o", "b.wav"});
    EXPECT_EQ(result.exitStatus(), GetParam().status) << result.standardError;
    EXPECT_NE(result.standardError.find(GetParam().says), std::string::npos)
        << result.standardError;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"book.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Ranges, ChapterRanges,
                         test::sweep(RangeCase{"Word", "two", 2, "not a chapter number"},
                                     RangeCase{"Backwards", "3-1", 2, "ends before it begins"},
                                     RangeCase{"EmptyItem", "1,,2", 2, "not a chapter number"},
                                     RangeCase{"NoFirst", "-2", 2, "not a chapter number"},
                                     RangeCase{"Signed", "+2", 2, "not a chapter number"},
                                     RangeCase{"PastTheBook", "6-", 1, "has 5 chapter headings"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrova::cli
