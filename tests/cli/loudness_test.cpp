// Loudness to a target, measured by an independent meter: ffmpeg's ebur128 filter, whose
// true peak is found by resampling to 192 kHz rather than libebur128's 4 times oversampling.

#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

struct Ebur128 {
    double integrated = 0;
    double truePeak = 0;
};

// The Summary of `ffmpeg -af ebur128=peak=true`: its "I:" and its true "Peak:".
std::optional<Ebur128> measuredByFfmpeg(const fs::path& sound) {
    const std::string command = "ffmpeg -nostats -hide_banner -i '" + sound.string() +
                                "' -af ebur128=peak=true -f null - 2>&1";
    FILE* ffmpeg = ::popen(command.c_str(), "r");
    if (ffmpeg == nullptr)
        return std::nullopt;
    std::string out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, ffmpeg))
        out += buffer;
    if (::pclose(ffmpeg) != 0)
        return std::nullopt;
    const std::size_t summary = out.rfind("Summary:");
    const std::size_t integrated = out.find(" I:", summary);
    const std::size_t peak = out.find("Peak:", summary);
    if (summary == std::string::npos || integrated == std::string::npos ||
        peak == std::string::npos)
        return std::nullopt;
    return Ebur128{.integrated = std::stod(out.substr(integrated + 3)),
                   .truePeak = std::stod(out.substr(peak + 5))};
}

class Loudness : public ::testing::Test {
protected:
    Loudness() {
        const std::string sample = test::readBytes(fs::path(KESTROVA_SAMPLES_DIR) / "sample.txt");
        test::writeBytes(scratch / "in.txt", sample);
    }

    Outcome convert(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "convert");
        arguments.push_back("in.txt");
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }

    std::string bytes(const std::string& name) const { return test::readBytes(scratch / name); }

    ScratchDir scratch;
};

// Three voices 12 LU apart come out at -18 LUFS within half a LU, peaks at most -1 dBTP, in
// a wave file and after an Opus encoder and decoder.
TEST_F(Loudness, EveryVoiceReachesTheTarget) {
    std::vector<double> levels;
    for (const std::string voice : test::sweptValues({"en-us", "slt", "kal16"})) {
        for (const std::string ending : {".wav", ".opus"}) {
            SCOPED_TRACE(voice + ending);
            const std::string output = voice + ending;
            const Outcome run = convert({"-e", voice, "--loudness", "-18", "-o", output});
            ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
            // What it wrote, as its own meter read it.
            const std::size_t written = run.standardError.find(" dB: ");
            ASSERT_NE(written, std::string::npos) << run.standardError;
            EXPECT_NEAR(std::stod(run.standardError.substr(written + 5)), -18.0, 0.1);
            EXPECT_EQ(run.standardError.find("not reached"), std::string::npos);
            const std::optional<Ebur128> measured = measuredByFfmpeg(scratch / output);
            ASSERT_TRUE(measured);
            EXPECT_NEAR(measured->integrated, -18.0, 0.2);
            EXPECT_LE(measured->truePeak, -1.0);
            if (ending == ".wav")
                levels.push_back(measured->integrated);
        }
    }
    EXPECT_LT(*std::max_element(levels.begin(), levels.end()) -
                  *std::min_element(levels.begin(), levels.end()),
              1.0);
}

// A target the ceiling cannot hold without crushing the speech: the gain stops where the
// peaks would pass the ceiling by 8 dB before the limiter, the summary says why the target
// was not reached, and the crest factor (true peak less loudness, as ffmpeg reads them) is
// not flattened by more than those 8 dB. The gain used to run away to +84 dB.
TEST_F(Loudness, AnUnreachableTargetStopsShortOfCrushingTheSpeech) {
    const Outcome plain = convert({"-q", "-o", "plain.wav"});
    ASSERT_EQ(plain.exitStatus(), 0) << plain.standardError;
    const std::optional<Ebur128> own = measuredByFfmpeg(scratch / "plain.wav");
    ASSERT_TRUE(own);
    for (const std::vector<std::string>& level : {std::vector<std::string>{"--loudness", "-12"},
                                                  {"--loudness", "-5", "--true-peak", "-9"}}) {
        SCOPED_TRACE(level[1]);
        std::vector<std::string> arguments = level;
        arguments.insert(arguments.end(), {"-o", "loud.wav"});
        const Outcome run = convert(arguments);
        ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
        const std::string ceiling = level.size() > 2 ? "-9.0" : "-1.0";
        EXPECT_NE(run.standardError.find(" LUFS (target " + level[1] + ".0 LUFS not reached: the " +
                                         ceiling +
                                         " dBTP ceiling allows at most 8 dB of limiting)"),
                  std::string::npos)
            << run.standardError;
        const std::optional<Ebur128> loud = measuredByFfmpeg(scratch / "loud.wav");
        ASSERT_TRUE(loud);
        EXPECT_LE(loud->truePeak, std::stod(ceiling));
        EXPECT_GE(loud->truePeak - loud->integrated, own->truePeak - own->integrated - 8.0);
        EXPECT_LT(loud->integrated, std::stod(level[1]) - 1.0);
    }
}

// LAME at a constant bit rate gives speech back 0.3 LU (192 kb/s) to 0.5 LU (128 kb/s)
// softer: the files decode at the target, a single word's too, whose gating once sent the
// gain past it (-18.5 LUFS for -19).
TEST_F(Loudness, ConstantRateMp3FilesDecodeAtTheTarget) {
    test::writeBytes(scratch / "hi.txt", "Hi\n");
    const Outcome word = test::runProgram(
        KESTROVA_CLI_PATH, {"convert", "-q", "--acx", "-o", "hi.mp3", "hi.txt"}, scratch.path());
    ASSERT_EQ(word.exitStatus(), 0) << word.standardError;
    const Outcome text =
        convert({"-q", "--loudness", "-18", "-f", "34", "--bitrate", "128", "-o", "cbr.mp3"});
    ASSERT_EQ(text.exitStatus(), 0) << text.standardError;
    for (const auto& [file, target] : {std::pair{"hi-00.mp3", -19.0}, {"cbr.mp3", -18.0}}) {
        SCOPED_TRACE(file);
        const std::optional<Ebur128> measured = measuredByFfmpeg(scratch / file);
        ASSERT_TRUE(measured);
        EXPECT_NEAR(measured->integrated, target, 0.1);
    }
}

// Without a target a wave file keeps the voice's own samples, eSpeak NG's peaks near full
// scale included; --measure reports what ffmpeg measures, and changes no byte.
TEST_F(Loudness, MeasuringLeavesTheSamplesAsTheyAre) {
    const Outcome plain = convert({"-q", "-e", "en-us", "-o", "plain.wav"});
    const Outcome measured = convert({"-e", "en-us", "--measure", "-o", "measured.wav"});
    ASSERT_EQ(plain.exitStatus(), 0) << plain.standardError;
    ASSERT_EQ(measured.exitStatus(), 0) << measured.standardError;
    EXPECT_EQ(bytes("plain.wav"), bytes("measured.wav"));
    const std::optional<Ebur128> oracle = measuredByFfmpeg(scratch / "plain.wav");
    ASSERT_TRUE(oracle);
    EXPECT_GT(oracle->truePeak, -1.0); // no ceiling on a lossless file
    // Two meters: libebur128 and ffmpeg's own gate their blocks a little differently.
    const std::string& summary = measured.standardError;
    const std::size_t shown = summary.find("  loudness ");
    ASSERT_NE(shown, std::string::npos) << summary;
    EXPECT_NEAR(std::stod(summary.substr(shown + 11)), oracle->integrated, 0.2) << summary;
}

// A lossy file without any option gets the -1 dBTP ceiling as it is written, no second
// pass, and only where the peaks pass it: Flite slt's stay as they are.
TEST_F(Loudness, LossyFilesGetTheCeiling) {
    for (const std::string voice : {"en-us", "slt"}) {
        SCOPED_TRACE(voice);
        const Outcome run = convert({"-e", voice, "-o", voice + ".mp3"});
        ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
        const bool held = run.standardError.find("-1.0 dBTP ceiling held on") != std::string::npos;
        EXPECT_EQ(held, voice == "en-us") << run.standardError;
        // The samples given to the encoder peak at -1 dBTP; its own overshoot stays well
        // clear of full scale (without the ceiling eSpeak NG's decoded peaks reach -0.4).
        const std::optional<Ebur128> measured = measuredByFfmpeg(scratch / (voice + ".mp3"));
        ASSERT_TRUE(measured);
        EXPECT_LE(measured->truePeak, -0.7);
    }
}

// One gain for the whole book, and the limiter's look-ahead, across the chapters' files: they
// hold the one file's samples, and the output is the same for any number of workers.
TEST_F(Loudness, OneGainForTheWholeBookWhateverTheWorkers) {
    test::writeBytes(scratch / "in.txt", "Chapter 1\n\nA quiet start.\n\nChapter 2\n\nA LOUD "
                                         "AND LONG SECOND CHAPTER, SPOKEN ON AND ON.\n");
    for (const std::vector<std::string>& level :
         {std::vector<std::string>{"--loudness", "-20"}, {"--true-peak", "-6"}}) {
        SCOPED_TRACE(level[0]);
        const auto with = [&](std::vector<std::string> arguments) {
            arguments.insert(arguments.begin(), level.begin(), level.end());
            return convert(arguments);
        };
        const Outcome one = with({"-q", "-j", "1", "--chapters", "-o", "one.wav"});
        const Outcome many = with({"-q", "-j", "3", "--chapters", "-o", "many.wav"});
        const Outcome split = with({"-q", "--split-chapters", "-o", "b.wav"});
        ASSERT_EQ(one.exitStatus(), 0) << one.standardError;
        ASSERT_EQ(many.exitStatus(), 0) << many.standardError;
        ASSERT_EQ(split.exitStatus(), 0) << split.standardError;
        EXPECT_EQ(bytes("one.wav"), bytes("many.wav"));
        std::vector<short> joined;
        for (const char* chapter : {"b-01-Chapter_1.wav", "b-02-Chapter_2.wav"}) {
            const auto sound = test::readSound(scratch / chapter);
            ASSERT_TRUE(sound) << chapter;
            joined.insert(joined.end(), sound->samples.begin(), sound->samples.end());
        }
        EXPECT_EQ(joined, test::readSound(scratch / "one.wav")->samples);
    }
}

TEST_F(Loudness, LevelsOutsideTheRangeAreBadUsage) {
    const std::vector<std::vector<std::string>> refused = {
        {"--loudness", "-41"},  {"--loudness", "-4"},   {"--loudness", "loud"},
        {"--loudness", "inf"},  {"--loudness", "-1e1"}, {"--true-peak", "0.5"},
        {"--true-peak", "-10"}, {"--true-peak", "nan"}};
    for (std::vector<std::string> arguments : refused) {
        SCOPED_TRACE(arguments[0] + " " + arguments[1]);
        arguments.insert(arguments.end(), {"-o", "out.wav"});
        const Outcome run = convert(arguments);
        EXPECT_EQ(run.exitStatus(), 2);
        EXPECT_NE(run.standardError.find("is not accepted"), std::string::npos)
            << run.standardError;
        EXPECT_FALSE(fs::exists(scratch / "out.wav"));
    }
}

} // namespace
} // namespace kestrova::cli
