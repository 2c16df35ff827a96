// Chapters, Unicode tags and the cover inside the sound file, read back by other programs:
// ffprobe, mutagen, exiftool, mediainfo, and each container's own checker.

#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

const std::string unicode = "Ünïcødé — 日本語";

// A 2 by 2 PNG picture.
const char pngBytes[] = "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00"
                        "\x00\x02\x00\x00\x00\x02\x08\x02\x00\x00\x00\xFD\xD4\x9A\x73\x00\x00\x00"
                        "\x10\x49\x44\x41\x54\x78\x9C\x63\xF8\xCF\xC0\x00\x44\x0C\x10\x0A\x00\x1F"
                        "\xEE\x03\xFD\x8B\x5F\x14\xD4\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60"
                        "\x82";
const std::string coverPng(pngBytes, sizeof pngBytes - 1);

const std::string book = "Chapter One\n\nThe first chapter has a sentence. And another one.\n\n"
                         "Chapter Two\n\nThe second chapter speaks too.\n\n"
                         "Chapter Three: Ünïcødé\n\nThe end is here.\n";

class EmbeddedTags : public ::testing::Test {
protected:
    EmbeddedTags() {
        test::writeBytes(scratch / "book.txt", book);
        test::writeBytes(scratch / "cover.png", coverPng);
    }

    Outcome convert(const std::string& output, const std::string& jobs,
                    std::vector<std::string> more = {}) const {
        std::vector<std::string> arguments = {
            "convert", "-q",       "-e",    "slt",     "-j",        jobs, "--chapters", "--title",
            unicode,   "--artist", unicode, "--cover", "cover.png", "-o", output};
        arguments.insert(arguments.end(), more.begin(), more.end());
        arguments.push_back("book.txt");
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }

    Outcome run(const std::string& program, const std::vector<std::string>& arguments) const {
        return test::runProgram(program, arguments, scratch.path());
    }

    ScratchDir scratch;
};

struct ContainerCase {
    std::string name;
    std::string ending;
    std::vector<std::string> checker; // program and arguments; the file is added
};

void PrintTo(const ContainerCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ChaptersInside : public EmbeddedTags, public ::testing::WithParamInterface<ContainerCase> {};

// ffprobe finds the timings' chapters with their titles, and the cover; the container's own
// checker finds nothing wrong; any number of jobs gives the same bytes.
TEST_P(ChaptersInside, ReadersAgreeWithTheTimings) {
    const std::string file = "book" + GetParam().ending;
    const Outcome made = convert(file, "3", {"--timings", "book.json"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;

    const Outcome timed =
        run("/usr/bin/python3", {"-c", "import json\n"
                                       "for c in json.load(open('book.json', encoding='utf-8'))"
                                       "['chapters']:\n"
                                       "  print('%.3f %s' % (c['start_seconds'], c['title']))"});
    const Outcome probed = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                    "chapter=start_time:chapter_tags=title", "-of",
                                                    "csv=p=0:s=|", file});
    ASSERT_EQ(probed.exitStatus(), 0) << probed.standardError;
    std::istringstream lines(probed.standardOutput);
    std::string fromFile;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t bar = line.find('|');
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", std::stod(line.substr(0, bar)));
        fromFile += std::string(seconds) + " " + line.substr(bar + 1) + "\n";
    }
    // The timings' chapters, by Python's JSON reader, start where ffprobe finds them.
    ASSERT_EQ(timed.exitStatus(), 0) << timed.standardError;
    EXPECT_EQ(fromFile, timed.standardOutput);
    EXPECT_EQ(test::lineCount(fromFile), 3u);

    const Outcome streams = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                     "stream=codec_name", "-of", "csv=p=0", file});
    EXPECT_NE(streams.standardOutput.find("png"), std::string::npos) << streams.standardOutput;

    std::vector<std::string> checker = GetParam().checker;
    const std::string program = checker.front();
    checker.erase(checker.begin());
    checker.push_back(file);
    const Outcome checked = run(program, checker);
    EXPECT_EQ(checked.exitStatus(), 0) << checked.standardOutput << checked.standardError;
    const std::string report = checked.standardOutput + checked.standardError;
    for (const char* problem : {"WARN", "Warn", "ERROR", "Error", "PROBLEM"})
        EXPECT_EQ(report.find(problem), std::string::npos) << report;

    ASSERT_EQ(convert("again" + GetParam().ending, "1").exitStatus(), 0);
    EXPECT_EQ(test::readBytes(scratch / file),
              test::readBytes(scratch / ("again" + file.substr(4))));
}

INSTANTIATE_TEST_SUITE_P(Containers, ChaptersInside,
                         ::testing::Values(ContainerCase{"Mp3", ".mp3", {"/usr/bin/mp3val"}},
                                           ContainerCase{"OggVorbis", ".ogg", {"/usr/bin/ogginfo"}},
                                           ContainerCase{"Opus", ".opus", {"/usr/bin/opusinfo"}},
                                           ContainerCase{
                                               "Flac", ".flac", {"/usr/bin/flac", "-t", "-s"}}),
                         [](const auto& info) { return info.param.name; });

// mutagen reads the CHAP frames, the top-level ordered CTOC listing them, and the cover.
TEST_F(EmbeddedTags, Mp3ChapterFramesAndCoverReadByMutagen) {
    ASSERT_EQ(convert("book.mp3", "2").exitStatus(), 0);
    const Outcome read = run(
        "/usr/bin/python3",
        {"-c", "import mutagen.id3 as id3\n"
               "t = id3.ID3('book.mp3')\n"
               "print(t.version)\n"
               "for c in t.getall('CHAP'):\n"
               "  print(c.element_id, c.start_time < c.end_time, c.sub_frames['TIT2'].text[0])\n"
               "toc = t.getall('CTOC')[0]\n"
               "print(toc.child_element_ids, int(toc.flags))\n"
               "p = t.getall('APIC')[0]\n"
               "print(p.mime, int(p.type), p.data == open('cover.png', 'rb').read())\n"
               "print(t['TIT2'].text[0], int(t['TIT2'].encoding))"});
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput, "(2, 4, 0)\n"
                                   "chp1 True Chapter One\n"
                                   "chp2 True Chapter Two\n"
                                   "chp3 True Chapter Three: Ünïcødé\n"
                                   "['chp1', 'chp2', 'chp3'] 3\n"
                                   "image/png 3 True\n" +
                                       unicode + " 3\n");
}

class UnicodeTags : public EmbeddedTags, public ::testing::WithParamInterface<std::string> {};

// exiftool and mediainfo show the words ffprobe shows; a wave file keeps its INFO list and
// its cue points beside the id3 chunk, and stays a valid wave file for sox.
TEST_P(UnicodeTags, ReadTheSameEverywhere) {
    const std::string file = "book" + GetParam();
    ASSERT_EQ(convert(file, "4").exitStatus(), 0);
    const Outcome exif =
        run("/usr/bin/exiftool", {"-s3", "-ID3v2_4:Title", "-ID3v2_4:Artist", file});
    EXPECT_EQ(exif.standardOutput, unicode + "\n" + unicode + "\n") << exif.standardError;
    const Outcome media =
        run("/usr/bin/mediainfo", {"--Output=General;%Track%|%Performer%|%Cover_Mime%", file});
    EXPECT_EQ(media.standardOutput, unicode + "|" + unicode + "|image/png\n");
    const Outcome probed = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                    "format_tags=title", "-of", "csv=p=0", file});
    EXPECT_EQ(probed.standardOutput, unicode + "\n");
    if (GetParam() != ".wav")
        return;
    EXPECT_EQ(run("/usr/bin/soxi", {file}).exitStatus(), 0);
    EXPECT_EQ(test::readCuePoints(scratch / file).size(), 3u);
    const std::string bytes = test::readBytes(scratch / file);
    EXPECT_NE(bytes.find("INFOINAM"), std::string::npos);
    EXPECT_NE(bytes.find("id3 "), std::string::npos);
    ASSERT_EQ(convert("again.wav", "1").exitStatus(), 0);
    EXPECT_EQ(bytes, test::readBytes(scratch / "again.wav"));
}

INSTANTIATE_TEST_SUITE_P(Containers, UnicodeTags, ::testing::Values(".wav", ".mp3"),
                         [](const auto& info) { return info.param.substr(1); });

// Each chapter's own file holds that one chapter, from its start to its end.
TEST_F(EmbeddedTags, SplitFilesHoldTheirOneChapter) {
    ASSERT_EQ(convert("book.opus", "2", {"--split-chapters"}).exitStatus(), 0);
    const Outcome probed = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                    "chapter=start_time:chapter_tags=title", "-of",
                                                    "csv=p=0:s=|", "book-02-Chapter_Two.opus"});
    EXPECT_EQ(probed.standardOutput, "0.000000|Chapter Two\n") << probed.standardError;
}

} // namespace
} // namespace kestrova::cli
