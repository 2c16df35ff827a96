// What a conversion shows as it goes: JSON lines for front ends, and the terminal's bar.

#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;

void writeText(const ScratchDir& scratch, int sentences) {
    std::string text;
    for (int i = 1; i <= sentences; ++i)
        text += "Sentence number " + std::to_string(i) + " of a text that takes a while.\n";
    test::writeBytes(scratch / "text.txt", text);
}

// Each line read by Python's JSON parser: the fraction never falls, the last says 1 and
// the whole sound's seconds, with no time left; a batch has no sound seconds or speed.
TEST(Progress, JsonLinesFollowTheConversionToItsEnd) {
    ScratchDir scratch;
    writeText(scratch, 60);
    const Outcome one = test::runProgram(
        KESTROVA_CLI_PATH, {"convert", "-q", "--progress=json", "-o", "one.wav", "text.txt"},
        scratch.path());
    ASSERT_EQ(one.exitStatus(), 0) << one.standardError;
    test::writeBytes(scratch / "lines.txt", one.standardError);
    const Outcome read =
        test::runProgram("/usr/bin/python3",
                         {"-c", "import json, sys\n"
                                "lines = [json.loads(l) for l in open('lines.txt')]\n"
                                "f = [l['fraction'] for l in lines]\n"
                                "assert f == sorted(f) and f[-1] == 1, f\n"
                                "last = lines[-1]\n"
                                "assert last['seconds_left'] == 0 and last['speed'] > 0, last\n"
                                "print('%.3f' % last['sound_seconds'])"},
                         scratch.path());
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    const auto sound = test::readSound(scratch / "one.wav");
    ASSERT_TRUE(sound);
    EXPECT_NEAR(std::stod(read.standardOutput),
                static_cast<double>(sound->info.frames) / sound->info.samplerate, 0.001);

    test::writeBytes(scratch / "two.txt", "Two.\n");
    const Outcome batch = test::runProgram(
        KESTROVA_CLI_PATH,
        {"convert", "-q", "--progress", "json", "-d", "out", "text.txt", "two.txt"},
        scratch.path());
    ASSERT_EQ(batch.exitStatus(), 0) << batch.standardError;
    EXPECT_NE(batch.standardError.find("\"sound_seconds\":null,\"speed\":null"), std::string::npos)
        << batch.standardError;
}

// On a terminal (script(1) gives one) the bar ends at 100% with the speed and no time left.
TEST(Progress, TheBarShowsSpeedAndTimeLeft) {
    ScratchDir scratch;
    writeText(scratch, 5);
    // Appended, not concatenated: GCC 12 at -O1 warns falsely of bounds in operator+ here.
    std::string command = KESTROVA_CLI_PATH;
    command.append(" convert -o text.wav text.txt");
    const Outcome shown =
        test::runProgram("/usr/bin/script", {"-qec", command, "/dev/null"}, scratch.path());
    ASSERT_EQ(shown.exitStatus(), 0) << shown.standardOutput;
    const std::string& terminal = shown.standardOutput;
    const std::size_t last = terminal.rfind("\r[");
    ASSERT_NE(last, std::string::npos) << terminal;
    const std::string bar = terminal.substr(last, terminal.find('\n', last) - last);
    EXPECT_NE(bar.find("] 100%  "), std::string::npos) << bar;
    EXPECT_NE(bar.find("x  0:00 left"), std::string::npos) << bar;
}

} // namespace
} // namespace kestrova::cli
