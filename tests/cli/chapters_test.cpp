// Chapters, cue sheets and the side files of the command line, read back as players would.

#include "speech/request_check.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"
#include "support/webvtt_checker.h"

#include <cmath>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

constexpr std::string_view book = "The Lamp\n\n"
                                  "A word before the story.\n\n"
                                  "Chapter 1: The Harbour\n\n"
                                  "Boats rocked in the dark water. A gull cried once.\n\n"
                                  "Chapter Two\n\n"
                                  "The keeper climbed the stair.\n\n"
                                  "Epilogue\n\n"
                                  "The lamp still burns.\n";

Outcome convertLampBook(const ScratchDir& scratch, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"convert", "-q", "-e", "eSpeak NG English (America)"});
    arguments.push_back("book.txt");
    return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* says;
};

class ChapterUsage : public ::testing::TestWithParam<UsageCase> {};

// Found before anything is read or written: status 2, one line, nothing made.
TEST_P(ChapterUsage, IsRefusedBeforeAnythingIsWritten) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    test::writeBytes(scratch / "other.txt", book);
    const Outcome result = convertLampBook(scratch, GetParam().arguments);
    EXPECT_EQ(result.exitStatus(), 2) << result.standardError;
    EXPECT_NE(result.standardError.find(GetParam().says), std::string::npos)
        << result.standardError;
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"book.txt", "other.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Options, ChapterUsage,
    test::sweep(
        UsageCase{"TimingsOfTwoInputs", {"--timings", "t.json", "other.txt"}, "one input"},
        UsageCase{"SplitToAStream", {"--split-chapters", "-o", "-"}, "not standard output"},
        UsageCase{"SplitWithACueSheet", {"--split-chapters", "--cue-sheet", "b.cue"}, "cue sheet"},
        UsageCase{"SplitMarkup", {"--split-chapters", "--ssml"}, "plain text"},
        UsageCase{"UnknownSubtitleKind", {"--subtitles", "b.txt"}, "b.txt"},
        UsageCase{"CueSheetOfRawSound", {"--cue-sheet", "b.cue", "--type", "raw"}, "raw"},
        UsageCase{"BrokenPattern", {"--chapter-pattern", "(Chapter"}, "missing closing"}),
    [](const auto& info) { return std::string(info.param.name); });

// The command line says of a rule of the request what the library says of it, and refuses
// markup found by its content as bad usage too, naming the file.
TEST(ChapterUsageAsTheLibrary, SaysTheLibrarysWordsWithStatus2) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    speech::ConversionRequest stream;
    stream.chapters.split = stream.output.toStandardOutput = true;
    try {
        speech::checkRequest(stream);
        FAIL() << "a split into standard output passed";
    } catch (const speech::RequestRefused& refusal) {
        const Outcome result = convertLampBook(scratch, {"--split-chapters", "-o", "-"});
        EXPECT_EQ(result.exitStatus(), 2);
        EXPECT_EQ(result.standardError, "kestrova-wav-cli: " + std::string(refusal.what()) + "\n");
    }
    test::writeBytes(scratch / "letter.xml",
                     "<speak version=\"1.1\" xmlns=\"http://www.w3.org/2001/10/synthesis\">"
                     "Hello.</speak>\n");
    const Outcome markup = test::runProgram(
        KESTROVA_CLI_PATH, {"convert", "-q", "--split-chapters", "letter.xml"}, scratch.path());
    EXPECT_EQ(markup.exitStatus(), 2);
    EXPECT_EQ(markup.standardError, "kestrova-wav-cli: the SSML document \"letter.xml\" cannot be "
                                    "split into chapters: chapters are found in plain text only\n");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"book.txt", "letter.xml"}));
}

// "mm:ss:ff" of a cue sheet's INDEX, in frames of the sound.
double indexSeconds(const std::string& index) {
    const int minutes = std::stoi(index.substr(0, 2));
    const int seconds = std::stoi(index.substr(3, 2));
    const int frames = std::stoi(index.substr(6, 2));
    return minutes * 60 + seconds + frames / 75.0;
}

// The cue sheet's tracks point, within one frame (1/75 s), at the cue points libsndfile reads
// back from the wave file: each heading's first sample.
TEST(Chapters, CueSheetAndCuePointsAgree) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    const Outcome result =
        convertLampBook(scratch, {"--cue-sheet", "book.cue", "--title", "The Lamp", "--timings",
                                  "book.json", "--subtitles", "book.vtt", "-o", "book.wav"});
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    const auto cues = test::readCuePoints(scratch / "book.wav");
    const auto info = test::soundInfo(scratch / "book.wav");
    ASSERT_TRUE(info);
    ASSERT_EQ(cues.size(), 3u);
    EXPECT_EQ(cues[0].name, "Chapter 1: The Harbour");
    EXPECT_EQ(cues[2].name, "Epilogue");

    const std::string sheet = test::readBytes(scratch / "book.cue");
    EXPECT_NE(sheet.find("FILE \"book.wav\" WAVE"), std::string::npos) << sheet;
    std::vector<std::string> titles;
    std::vector<double> indexes;
    std::istringstream lines(sheet);
    const std::regex track(R"re(^\s+TITLE "(.*)"\s*$)re");
    const std::regex index(R"(^\s+INDEX 01 (\d\d:\d\d:\d\d)\s*$)");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, track))
            titles.push_back(match[1]);
        else if (std::regex_match(line, match, index))
            indexes.push_back(indexSeconds(match[1]));
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"The Lamp", "Chapter 1: The Harbour", "Chapter Two",
                                                "Epilogue"}));
    ASSERT_EQ(indexes.size(), 4u);
    EXPECT_EQ(indexes[0], 0.0);
    for (std::size_t i = 0; i < cues.size(); ++i)
        EXPECT_NEAR(indexes[i + 1], static_cast<double>(cues[i].frame) / info->samplerate, 1.0 / 75)
            << titles[i + 1];
    // The timings name the same samples, and the subtitles begin there.
    const std::string timings = test::readBytes(scratch / "book.json");
    const test::WebVttCheck subtitles = test::checkWebVtt(test::readBytes(scratch / "book.vtt"));
    ASSERT_TRUE(subtitles.valid()) << subtitles.error;
    for (const auto& cue : cues) {
        EXPECT_NE(timings.find("\"heading_sample\": " + std::to_string(cue.frame)),
                  std::string::npos)
            << cue.frame;
        const double heading = 1000.0 * static_cast<double>(cue.frame) / info->samplerate;
        EXPECT_TRUE(std::any_of(subtitles.cues.begin(), subtitles.cues.end(), [&](const auto& c) {
            return std::abs(static_cast<double>(c.startMilliseconds) - heading) <= 1;
        })) << cue.name;
    }
}

// Split, the files' durations add up to the one file's within a frame per chapter, and each
// is titled with its heading.
TEST(Chapters, SplitFilesAddUpAndAreTitled) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    ASSERT_EQ(convertLampBook(scratch, {"--chapters", "-o", "whole.flac"}).exitStatus(), 0);
    const Outcome split = convertLampBook(scratch, {"--split-chapters", "-o", "part.flac"});
    ASSERT_EQ(split.exitStatus(), 0) << split.standardError;
    const std::vector<std::string> parts{"part-00.flac", "part-01-Chapter_1_The_Harbour.flac",
                                         "part-02-Chapter_Two.flac", "part-03-Epilogue.flac"};
    const std::vector<const char*> titles{nullptr, "Chapter 1: The Harbour", "Chapter Two",
                                          "Epilogue"};
    double total = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(parts[i]);
        const auto info = test::soundInfo(scratch / parts[i]);
        ASSERT_TRUE(info);
        total += static_cast<double>(info->frames) / info->samplerate;
        SF_INFO opened{};
        SNDFILE* file = sf_open((scratch / parts[i]).c_str(), SFM_READ, &opened);
        ASSERT_NE(file, nullptr);
        const char* title = sf_get_string(file, SF_STR_TITLE);
        if (titles[i]) {
            EXPECT_STREQ(title, titles[i]);
        }
        sf_close(file);
    }
    const auto whole = test::soundInfo(scratch / "whole.flac");
    ASSERT_TRUE(whole);
    EXPECT_NEAR(total, static_cast<double>(whole->frames) / whole->samplerate,
                static_cast<double>(parts.size()) / 75);
    EXPECT_FALSE(fs::exists(scratch / "part.flac"));
}

} // namespace
} // namespace kestrova::cli
