// The silence at the ends and the two presets, measured by independent tools: ffprobe for the
// codec, rate, bit rate, duration and chapters, ffmpeg's ebur128, astats and silencedetect for
// the level, the peaks and the silence, mp3val for the MP3 frames.

#include "support/running_program.h"
#include "support/test_support.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

// Standard output and error of a shell command.
std::string shellOutput(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string out;
    if (pipe == nullptr)
        return out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    ::pclose(pipe);
    return out;
}

// Every number after "KEY=" or "KEY: " in text, in order.
std::vector<double> numbersAfter(const std::string& text, const std::string& key) {
    std::vector<double> numbers;
    const std::regex pattern(key + "[=:] *(-?[0-9.]+)");
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        numbers.push_back(std::stod((*it)[1].str()));
    return numbers;
}

std::string probed(const fs::path& file, const std::string& entries) {
    return shellOutput("ffprobe -v error -show_chapters -show_entries " + entries +
                       " -of default=nw=1 '" + file.string() + "'");
}

struct Silences {
    std::vector<double> starts, ends;
};

Silences silences(const fs::path& file) {
    const std::string out = shellOutput("ffmpeg -nostats -hide_banner -i '" + file.string() +
                                        "' -af silencedetect=n=-60dB:d=0.2 -f null -");
    return {numbersAfter(out, "silence_start"), numbersAfter(out, "silence_end")};
}

class Audiobook : public ::testing::Test {
protected:
    Audiobook() {
        test::writeBytes(scratch / "book.md",
                         "# A Small Book\n\nIt opens with a sentence or two. Then it goes on.\n\n"
                         "## Chapter One\n\nThe first chapter says a few things, one after the "
                         "other, and stops.\n\n## Chapter Two\n\nThe second chapter is short "
                         "as well. It ends the book.\n");
    }

    Outcome convert(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "convert");
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }

    ScratchDir scratch;
};

// --audiobook alone: book.m4b beside the book, AAC with its three chapters from 0, at -18
// LUFS, with half a second of silence before the speech and two seconds after it; the same
// with --lead-in 0 --tail 0 is 2.5 s shorter, each later chapter 0.5 s earlier.
TEST_F(Audiobook, PresetMakesAnM4bBookWithLevelAndSilence) {
    const Outcome run = convert({"--audiobook", "book.md"});
    ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
    const fs::path book = scratch / "book.m4b";
    const std::string probe = probed(book, "stream=codec_name:format=duration");
    EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;
    const std::vector<double> starts = numbersAfter(probe, "start_time");
    ASSERT_EQ(starts.size(), 3u) << probe;
    EXPECT_EQ(starts[0], 0.0);
    const std::string level = shellOutput("ffmpeg -nostats -hide_banner -i '" + book.string() +
                                          "' -af ebur128 -f null -");
    const std::vector<double> integrated = numbersAfter(level, "I");
    ASSERT_FALSE(integrated.empty());
    EXPECT_NEAR(integrated.back(), -18.0, 0.5);
    const Silences quiet = silences(book);
    const double duration = numbersAfter(probe, "duration").at(0);
    ASSERT_FALSE(quiet.starts.empty());
    EXPECT_EQ(quiet.starts.front(), 0.0);
    EXPECT_NEAR(quiet.ends.front(), 0.5, 0.05);
    EXPECT_GE(duration - quiet.starts.back(), 2.0);

    const Outcome flat =
        convert({"--audiobook", "--lead-in", "0", "--tail", "0", "-o", "flat.m4b", "book.md"});
    ASSERT_EQ(flat.exitStatus(), 0) << flat.standardError;
    const std::string flatProbe = probed(scratch / "flat.m4b", "format=duration");
    EXPECT_NEAR(duration - numbersAfter(flatProbe, "duration").at(0), 2.5, 0.05);
    const std::vector<double> flatStarts = numbersAfter(flatProbe, "start_time");
    ASSERT_EQ(flatStarts.size(), 3u);
    for (std::size_t chapter = 1; chapter < 3; ++chapter)
        EXPECT_NEAR(starts[chapter] - flatStarts[chapter], 0.5, 0.002);
}

// What is given wins over the preset: -o's ending and --loudness; the two presets together
// are bad usage.
TEST_F(Audiobook, GivenOptionsWinOverThePreset) {
    const Outcome run = convert({"--audiobook", "--loudness", "-23", "-o", "book.wav", "book.md"});
    ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
    const fs::path book = scratch / "book.wav";
    EXPECT_NE(probed(book, "stream=codec_name").find("pcm_s16le"), std::string::npos);
    const std::vector<double> integrated =
        numbersAfter(shellOutput("ffmpeg -nostats -hide_banner -i '" + book.string() +
                                 "' -af ebur128 -f null -"),
                     "I");
    ASSERT_FALSE(integrated.empty());
    EXPECT_NEAR(integrated.back(), -23.0, 0.5);
    EXPECT_EQ(convert({"--audiobook", "--acx", "book.md"}).exitStatus(), 2);
    // --acx's rate and bit rate give way too: an MP3 file at 22.05 kHz takes no constant
    // rate from libsndfile, which is bad usage, found before any file is made.
    const Outcome low = convert({"--acx", "-f", "22", "-o", "low.mp3", "book.md"});
    EXPECT_EQ(low.exitStatus(), 2);
    EXPECT_NE(low.standardError.find("a constant MP3 bit rate needs 32 kHz or more"),
              std::string::npos)
        << low.standardError;
    EXPECT_FALSE(fs::exists(scratch / "low-01-A_Small_Book.mp3"));
    const Outcome lower = convert({"--acx", "--bitrate", "128", "-o", "b.mp3", "book.md"});
    ASSERT_EQ(lower.exitStatus(), 0) << lower.standardError;
    EXPECT_NE(lower.standardError.find("b-02-Chapter_One.mp3: misses the --acx requirements: not "
                                       "a constant 192 kb/s\n"),
              std::string::npos)
        << lower.standardError;
    EXPECT_NE(probed(scratch / "b-02-Chapter_One.mp3", "stream=bit_rate").find("bit_rate=128000"),
              std::string::npos);
}

// --split-chapters with --lead-in and --tail: the silence opens the first file and closes the
// last; every sentence's samples move by the lead-in exactly; 0 and 0 change no byte.
TEST_F(Audiobook, SilenceAtTheEndsMovesTheTimings) {
    ASSERT_EQ(convert({"-q", "--chapters", "--timings", "plain.json", "-o", "plain.wav", "book.md"})
                  .exitStatus(),
              0);
    ASSERT_EQ(
        convert({"-q", "--chapters", "--lead-in", "0", "--tail", "0", "-o", "zero.wav", "book.md"})
            .exitStatus(),
        0);
    EXPECT_EQ(test::readBytes(scratch / "plain.wav"), test::readBytes(scratch / "zero.wav"));
    ASSERT_EQ(convert({"-q", "--split-chapters", "--lead-in", "1000", "--tail", "3000", "--timings",
                       "split.json", "-o", "split.wav", "book.md"})
                  .exitStatus(),
              0);
    const std::vector<double> plain =
        numbersAfter(test::readBytes(scratch / "plain.json"), "\"first_sample\"");
    const std::vector<double> split =
        numbersAfter(test::readBytes(scratch / "split.json"), "\"first_sample\"");
    ASSERT_EQ(plain.size(), split.size());
    for (std::size_t sentence = 0; sentence < plain.size(); ++sentence)
        EXPECT_EQ(split[sentence] - plain[sentence], 22050);
    const Silences first = silences(scratch / "split-01-A_Small_Book.wav");
    ASSERT_FALSE(first.ends.empty());
    EXPECT_NEAR(first.ends.front(), 1.0, 0.05);
    const fs::path lastFile = scratch / "split-03-Chapter_Two.wav";
    const Silences last = silences(lastFile);
    const double duration = numbersAfter(probed(lastFile, "format=duration"), "duration").at(0);
    ASSERT_FALSE(last.starts.empty());
    EXPECT_GE(duration - last.starts.back(), 3.0);
    // The middle file begins with its speech.
    const Silences middle = silences(scratch / "split-02-Chapter_One.wav");
    ASSERT_FALSE(middle.starts.empty());
    EXPECT_GT(middle.starts.front(), 0.3);
}

// --acx: a CBR 192 kb/s 44.1 kHz mono MP3 file per chapter, each within the store's RMS and
// peak limits with room tone at both ends, and the summary says each meets them; a level far
// off is reported per file.
TEST_F(Audiobook, AcxFilesMeetTheStoreRequirements) {
    // eSpeak NG's voice begins its speech at once, Flite's kal16 is upsampled from 16 kHz.
    for (const std::string voice : {"en-us", "kal16"}) {
        const Outcome run = convert({"--acx", "-e", voice, "-o", voice + ".mp3", "book.md"});
        ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
        for (const std::string chapter :
             {"-01-A_Small_Book.mp3", "-02-Chapter_One.mp3", "-03-Chapter_Two.mp3"}) {
            const std::string name = voice + chapter;
            SCOPED_TRACE(name);
            const fs::path file = scratch / name;
            const std::string probe =
                probed(file, "stream=codec_name,sample_rate,channels,bit_rate:format=duration");
            EXPECT_NE(probe.find("codec_name=mp3"), std::string::npos) << probe;
            EXPECT_NE(probe.find("sample_rate=44100"), std::string::npos) << probe;
            EXPECT_NE(probe.find("channels=1"), std::string::npos) << probe;
            EXPECT_NE(probe.find("bit_rate=192000"), std::string::npos) << probe;
            const std::string frames = shellOutput("mp3val '" + file.string() + "'");
            EXPECT_NE(frames.find("MPEG 1 Layer III), +ID3v2, CBR"), std::string::npos) << frames;
            EXPECT_EQ(frames.find("WARNING"), std::string::npos) << frames;
            const std::string stats =
                shellOutput("ffmpeg -nostats -hide_banner -i '" + file.string() +
                            "' -af astats=measure_perchannel=none -f null -");
            const double rms = numbersAfter(stats, "RMS level dB").at(0);
            EXPECT_GE(rms, -23.0);
            EXPECT_LE(rms, -18.0);
            EXPECT_LE(numbersAfter(stats, "Peak level dB").at(0), -3.0);
            const Silences quiet = silences(file);
            ASSERT_FALSE(quiet.starts.empty());
            EXPECT_EQ(quiet.starts.front(), 0.0);
            EXPECT_GE(quiet.ends.front(), 0.5);
            EXPECT_LE(quiet.ends.front(), 1.0);
            const double tail = numbersAfter(probe, "duration").at(0) - quiet.starts.back();
            EXPECT_GE(tail, 1.0);
            EXPECT_LE(tail, 5.0);
            EXPECT_NE(run.standardError.find(name + ": meets the --acx requirements"),
                      std::string::npos)
                << run.standardError;
        }
    }
    const Outcome quiet = convert({"--acx", "--loudness", "-30", "-o", "quiet.mp3", "book.md"});
    ASSERT_EQ(quiet.exitStatus(), 0) << quiet.standardError;
    EXPECT_NE(quiet.standardError.find("quiet-02-Chapter_One.mp3: misses the --acx "
                                       "requirements: RMS -3"),
              std::string::npos)
        << quiet.standardError;
}

} // namespace
} // namespace kestrova::cli
