// The files made from a conversion's timings: the JSON read back by Python's parser, the
// subtitles' cues (split between words, timed in proportion, never overlapping), every
// WebVTT file checked by the format's rules, the cue sheet's frames, and the writer that puts
// them on disk as carefully as the sound.

#include "speech/conversion/side_files/subtitle_cues.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/webvtt_checker.h"
#include "timing_files_cases.h"

#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

// ---- Cue sheet --------------------------------------------------------------------------

struct IndexCase {
    int rate;
    std::uint64_t headingFrame;
    std::string index;
};

class CueSheetIndex : public ::testing::TestWithParam<IndexCase> {};

// The frame (1/75 s) the heading's first sample falls in: never after the heading, and less
// than a frame before it.
TEST_P(CueSheetIndex, IsTheFrameOfTheHeadingsFirstSample) {
    SpeechTimings timings;
    timings.sampleRate = GetParam().rate;
    timings.sentences = {sentence("Chapter One", GetParam().headingFrame, GetParam().headingFrame)};
    timings.chapters = {{1, "Chapter One", 0, GetParam().headingFrame, GetParam().headingFrame}};
    const std::string sheet = cueSheet(timings, "a.wav", Container::Wave, {});
    const std::size_t at = sheet.find("INDEX 01 ");
    ASSERT_NE(at, std::string::npos) << sheet;
    EXPECT_EQ(sheet.substr(at + 9, sheet.find('\r', at) - at - 9), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Table, CueSheetIndex,
                         ::testing::Values(IndexCase{44100, 0, "00:00:00"},
                                           IndexCase{48000, 639, "00:00:00"},
                                           IndexCase{48000, 640, "00:00:01"},
                                           IndexCase{22050, 22050 * 65 + 2940, "01:05:10"},
                                           IndexCase{22050, 22050 * 65 + 2939, "01:05:09"},
                                           IndexCase{16000, 16000ull * 7200 + 15999, "120:00:74"}));

TEST(CueSheets, ListAnOpeningAndEveryChapterWithSafeTitles) {
    SoundTags tags;
    tags.title = "A \"Tale\"";
    tags.artist = "Ann\nOther";
    tags.genre = "Speech";
    const std::string sheet = cueSheet(bookTimings(22050), "book.flac", Container::Flac, tags);
    EXPECT_EQ(sheet, "REM GENRE \"Speech\"\r\n"
                     "PERFORMER \"Ann Other\"\r\n"
                     "TITLE \"A 'Tale'\"\r\n"
                     "FILE \"book.flac\" WAVE\r\n"
                     "  TRACK 01 AUDIO\r\n"
                     "    TITLE \"A 'Tale'\"\r\n"
                     "    INDEX 01 00:00:00\r\n"
                     "  TRACK 02 AUDIO\r\n"
                     "    TITLE \"Chapter 1: The Period\"\r\n"
                     "    INDEX 01 00:02:00\r\n"
                     "  TRACK 03 AUDIO\r\n"
                     "    TITLE \"Chapter '2'\"\r\n"
                     "    INDEX 01 00:13:00\r\n");
}

// Speech that begins with a heading: the silence before it is the first track's pregap.
TEST(CueSheets, StartWithTheFirstChapterWhenNothingComesBeforeIt) {
    SpeechTimings timings = bookTimings(22050);
    timings.sentences.erase(timings.sentences.begin());
    const std::string sheet = cueSheet(timings, "book.mp3", Container::Mp3, {});
    EXPECT_EQ(sheet, "FILE \"book.mp3\" MP3\r\n"
                     "  TRACK 01 AUDIO\r\n"
                     "    TITLE \"Chapter 1: The Period\"\r\n"
                     "    INDEX 00 00:00:00\r\n"
                     "    INDEX 01 00:02:00\r\n"
                     "  TRACK 02 AUDIO\r\n"
                     "    TITLE \"Chapter '2'\"\r\n"
                     "    INDEX 01 00:13:00\r\n");
}

struct SheetFailure {
    std::string name;
    unsigned chapters;
    std::string soundFile;
    Container container;
    std::string message; // empty: written
};

void PrintTo(const SheetFailure& entry, std::ostream* out) {
    *out << entry.name;
}

class CueSheetLimits : public ::testing::TestWithParam<SheetFailure> {};

TEST_P(CueSheetLimits, RefuseWhatNoCueSheetCanSay) {
    SpeechTimings timings;
    timings.sampleRate = 16000;
    for (unsigned n = 1; n <= GetParam().chapters; ++n) {
        timings.sentences.push_back(sentence("Part " + std::to_string(n), n * 100, n * 100, n));
        timings.chapters.push_back({n, "Part " + std::to_string(n), n * 100, n * 100, n * 100});
    }
    std::string message;
    try {
        const std::string sheet = cueSheet(timings, GetParam().soundFile, GetParam().container, {});
        EXPECT_NE(sheet.find("TRACK " + std::to_string(GetParam().chapters) + " AUDIO"),
                  std::string::npos);
    } catch (const SpeechError& error) {
        message = error.what();
    }
    EXPECT_EQ(message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CueSheetLimits,
    ::testing::Values(
        SheetFailure{"99 tracks", 99, "a.wav", Container::Wave, ""},
        SheetFailure{"100 tracks", 100, "a.wav", Container::Wave,
                     "a cue sheet holds at most 99 tracks, and this text makes 100; fewer "
                     "headings, or no cue sheet"},
        SheetFailure{"raw PCM", 12, "a.raw", Container::Raw,
                     "a cue sheet cannot name raw PCM, which has no header to say its rate; "
                     "choose a container such as wav or flac"},
        SheetFailure{"quote in the file name", 12, "a\"b.wav", Container::Wave,
                     "a cue sheet cannot name a sound file whose name holds a double quote or "
                     "a line break"}));
} // namespace
} // namespace kestrova::speech
