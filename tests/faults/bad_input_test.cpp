// Text files no reader should have written, through the real kestrova-wav-cli: each one
// converts (or stops cleanly) within a time limit, into a wave file libsndfile reads, and
// what the manual page says about decoding holds: a text is read aloud as text, whatever it
// looks like.

#include "cli_path.h"
#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace kestrova {
namespace {

using test::Outcome;
using test::RunningProgram;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::string utf16(std::string_view ascii, bool bigEndian) {
    std::string encoded;
    for (const char c : ascii) {
        encoded.push_back(bigEndian ? '\0' : c);
        encoded.push_back(bigEndian ? c : '\0');
    }
    return encoded;
}

std::string repeated(std::string_view piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text.append(piece);
    return text;
}

// The longest stretch of near silence in a sound, in seconds.
double longestSilence(const test::SoundFile& sound) {
    std::size_t longest = 0;
    std::size_t run = 0;
    for (const short sample : sound.samples) {
        run = std::abs(static_cast<int>(sample)) < 64 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return static_cast<double>(longest) / sound.info.samplerate / sound.info.channels;
}

struct BadInputCase {
    const char* name;
    std::function<std::string()> bytes;
    const char* voice = "eSpeak NG English (America)";
    double minSeconds = 0;
    double maxSeconds = 1e9;
    // Clean UTF-8 that must render to the very same bytes, when there is one.
    std::optional<std::string> sameAs = std::nullopt;
    double maxSilenceSeconds = 1e9;
};

void PrintTo(const BadInputCase& entry, std::ostream* out) {
    *out << entry.name;
}

class BadInput : public ::testing::TestWithParam<BadInputCase> {
protected:
    Outcome convert(const std::string& input, const std::string& output) {
        RunningProgram cli(cliPath, {"convert", "-q", "-e", GetParam().voice, "-o", output, input},
                           scratch.path());
        return cli.wait(60s);
    }

    test::ScratchDir scratch;
};

TEST_P(BadInput, ConvertsAsText) {
    const BadInputCase& c = GetParam();
    const std::string bytes = c.bytes();
    test::writeBytes(scratch / "in.txt", bytes);
    const Outcome outcome = convert("in.txt", "out.wav");
    ASSERT_FALSE(outcome.timedOut) << "no end within a minute";
    ASSERT_TRUE(outcome.exited()) << "ended by signal " << WTERMSIG(outcome.status);
    ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_EQ(outcome.standardError, "");
    EXPECT_EQ(test::readBytes(scratch / "in.txt"), bytes);

    const auto sound = test::readSound(scratch / "out.wav");
    ASSERT_TRUE(sound.has_value());
    EXPECT_EQ(sound->majorFormat(), SF_FORMAT_WAV);
    EXPECT_GE(sound->seconds(), c.minSeconds);
    EXPECT_LE(sound->seconds(), c.maxSeconds);
    if (sound->info.frames > 0) {
        EXPECT_LE(longestSilence(*sound), c.maxSilenceSeconds);
    }
    if (c.sameAs) {
        test::writeBytes(scratch / "clean.txt", *c.sameAs);
        ASSERT_EQ(convert("clean.txt", "clean.wav").exitStatus(), 0);
        EXPECT_EQ(test::readBytes(scratch / "out.wav"), test::readBytes(scratch / "clean.wav"))
            << "not rendered as the text \"" << *c.sameAs << "\"";
    }
    EXPECT_EQ(test::leftoverParts(scratch.path()), std::vector<std::string>{});
    EXPECT_EQ(test::survivors(), std::vector<pid_t>{});
}

const std::string sentence = "Hello world, this is a text without a byte order mark.";

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInput,
    test::sweep(
        // Nothing to say: a valid wave file without a sample.
        BadInputCase{.name = "Empty", .bytes = [] { return std::string(); }, .maxSeconds = 0},
        BadInputCase{.name = "OnlyWhiteSpace",
                     .bytes = [] { return std::string(" \n\n\t \r\n \f\v "); },
                     .maxSeconds = 0},
        BadInputCase{
            .name = "RandomBytes", .bytes = [] { return randomBytes(2000, 1); }, .minSeconds = 1},
        BadInputCase{.name = "RandomBytesFlite",
                     .bytes = [] { return randomBytes(500, 2); },
                     .voice = "Flite slt",
                     .minSeconds = 1},
        // Not valid UTF-8, so Windows-1252.
        BadInputCase{.name = "InvalidUtf8",
                     .bytes = [] { return std::string("Caf\xE9 na\xEFve, \x93quoted\x94."); },
                     .minSeconds = 1,
                     .sameAs = "Café naïve, “quoted”."},
        // Cut off in the middle of a character: no valid UTF-8 either.
        BadInputCase{.name = "TruncatedUtf8",
                     .bytes = [] { return std::string("Hello world \xE2\x82"); },
                     .minSeconds = 0.5,
                     .sameAs = "Hello world â‚"},
        BadInputCase{.name = "Utf16LittleEndianWithoutMark",
                     .bytes = [] { return utf16(sentence, false); },
                     .minSeconds = 1,
                     .sameAs = sentence},
        BadInputCase{.name = "Utf16BigEndianWithoutMark",
                     .bytes = [] { return utf16(sentence, true); },
                     .minSeconds = 1,
                     .sameAs = sentence},
        BadInputCase{.name = "NulBytes",
                     .bytes = [] { return std::string("Hello\0\0\0world.\0", 16); },
                     .minSeconds = 0.5,
                     .sameAs = "Hello world."},
        // 20 000 letters without a space: cut at the chunk limit.
        BadInputCase{.name = "VeryLongWord",
                     .bytes = [] { return std::string(20000, 'a'); },
                     .minSeconds = 1},
        BadInputCase{.name = "VeryLongWordOfTwoByteLetters",
                     .bytes = [] { return repeated("é", 5000); },
                     .minSeconds = 1},
        BadInputCase{.name = "TenThousandDigits",
                     .bytes = [] { return repeated("1234567890", 1000); },
                     .minSeconds = 10},
        // Markup and terminal escapes are characters to read, not commands.
        BadInputCase{.name = "LooksLikeSsml",
                     .bytes = [] { return std::string(R"(<speak><break time="10s"/></speak>)"); },
                     .minSeconds = 1.5,
                     .maxSeconds = 8,
                     .maxSilenceSeconds = 1.5},
        BadInputCase{
            .name = "SsmlAroundWords",
            .bytes =
                [] { return std::string(R"(<speak>Before <break time="10s"/> after.</speak>)"); },
            .minSeconds = 1.5,
            .maxSeconds = 9,
            .maxSilenceSeconds = 1.5},
        BadInputCase{.name = "EscapeSequences",
                     .bytes = [] { return std::string("\x1B[31mRed\x1B[0m text."); },
                     .minSeconds = 1,
                     .sameAs = " [31mRed [0m text.",
                     .maxSilenceSeconds = 1.5}),
    [](const auto& info) { return std::string(info.param.name); });

// 50 MB of one word on one line. Rendered whole it would take minutes and gigabytes of
// wave file; what matters is that the rendering goes on with bounded memory. So: 8 kHz
// 8-bit (-f 4), a few seconds of rendering while the memory of every process of the
// converter is sampled, then SIGTERM, which must stop it cleanly.
TEST(HugeInput, FiftyMegabytesOnOneLineRenderInBoundedMemory) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "huge.txt", repeated("abcdefghij", 5'000'000));
    const auto before = test::snapshot(scratch.path());
    RunningProgram cli(cliPath, {"convert", "-q", "-f", "4", "huge.txt"}, scratch.path());

    long peakKib = 0; // all processes of the converter together
    const auto sample = [&] {
        long total = test::residentKib(cli.pid());
        for (const pid_t below : test::descendantsOf(cli.pid()))
            total += test::residentKib(below);
        peakKib = std::max(peakKib, total);
    };
    std::uintmax_t written = 0;
    const auto renderedFor = [&](std::uintmax_t bytes) {
        return [&, bytes] {
            sample();
            written = test::unfinishedOutput(cli.pid(), scratch.path()).value_or(0);
            return written >= bytes;
        };
    };
    // A minute of speech, then as much again.
    ASSERT_TRUE(cli.waitFor(renderedFor(8000 * 60), 60s)) << "only " << written << " bytes";
    ASSERT_TRUE(cli.waitFor(renderedFor(8000 * 120), 60s)) << "only " << written << " bytes";
    ::kill(cli.pid(), SIGTERM);
    const Outcome outcome = cli.wait(30s);

    EXPECT_EQ(outcome.exitStatus(), 128 + SIGTERM) << outcome.standardError;
    EXPECT_EQ(test::lineCount(outcome.standardError), 1u) << outcome.standardError;
    EXPECT_EQ(test::withoutResumeFolders(test::snapshot(scratch.path())), before);
    EXPECT_EQ(test::survivors(), std::vector<pid_t>{});
    RecordProperty("peak_kib_all_processes", std::to_string(peakKib));
    RecordProperty("peak_kib_converter", std::to_string(outcome.peakKib));
    if (test::sanitizedBuild)
        GTEST_SKIP() << "a sanitized build's resident memory is no measure (peak " << peakKib
                     << " KiB)";
    EXPECT_LT(peakKib, 100 << 10);
    EXPECT_LT(outcome.peakKib, 100 << 10);
}

// A UTF-8 text in another encoding as Python's codecs write it: an oracle apart from libxml2.
std::string encodedByPython(const test::ScratchDir& scratch, const std::string& utf8,
                            const std::string& codec) {
    test::writeBytes(scratch / "utf8.in", utf8);
    const std::string command =
        "cd '" + scratch.path().string() +
        "' && python3 -c 'import sys; open(\"coded.in\", \"wb\").write(open(\"utf8.in\", "
        "encoding=\"utf-8\").read().encode(sys.argv[1]))' " +
        codec;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return test::readBytes(scratch / "coded.in");
}

Outcome convertSsml(const test::ScratchDir& scratch, const std::string& input,
                    const std::vector<std::string>& options = {}) {
    std::vector<std::string> arguments{"convert", "-q", "--ssml"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"-o", input + ".wav", input});
    RunningProgram cli(cliPath, arguments, scratch.path());
    return cli.wait(120s);
}

// Markup in any encoding libxml2 reads is decoded once, as its mark or declaration says: the
// very samples of the same document in UTF-8 ("café" in Latin-1 was spoken as "cafÃ©").
TEST(SsmlInput, EveryEncodingSoundsAsTheDocumentInUtf8) {
    struct Case {
        const char* codec;
        const char* declaration;
        const char* text;
    };
    const Case cases[] = {
        {"latin-1", "ISO-8859-1", "Café naïve, façade."},
        {"cp1252", "windows-1252", "“Café” costs 5 €."},
        {"shift_jis", "Shift_JIS", "Tokyo 東京 ｶﾌｪ."},
        {"utf-16", "", "Café 5 €."},
        {"utf-16-le", "UTF-16LE", "Café naïve."},
    };
    test::ScratchDir scratch;
    for (const Case& c : cases) {
        const std::string head =
            *c.declaration == '\0'
                ? std::string()
                : std::string("<?xml version=\"1.0\" encoding=\"") + c.declaration + "\"?>\n";
        const std::string document = head + "<speak><p>" + c.text + "</p></speak>\n";
        test::writeBytes(scratch / "coded.ssml", encodedByPython(scratch, document, c.codec));
        test::writeBytes(scratch / "utf8.ssml",
                         "<speak><p>" + std::string(c.text) + "</p></speak>");
        const Outcome coded = convertSsml(scratch, "coded.ssml");
        ASSERT_EQ(coded.exitStatus(), 0) << c.codec << ": " << coded.standardError;
        ASSERT_EQ(convertSsml(scratch, "utf8.ssml").exitStatus(), 0);
        // Compared whole, not printed: a difference would print the sound.
        EXPECT_TRUE(test::readBytes(scratch / "coded.ssml.wav") ==
                    test::readBytes(scratch / "utf8.ssml.wav"))
            << c.codec << " sounds unlike the document in UTF-8";
    }
}

// An hour's break is written as blocks of silence, never held whole (8 kHz 8-bit: 29 MB of
// file; held as samples it took 58 MB more, and at 48 kHz 1 GB).
TEST(SsmlInput, AnHourOfBreakIsWrittenInBoundedMemory) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "hour.ssml",
                     "<speak>Hi.<break time=\"3600s\"/><break time=\"1800s\"/>Bye.</speak>");
    for (const std::string jobs : {"0", "2"}) {
        const Outcome outcome = convertSsml(scratch, "hour.ssml", {"-f", "4", "-j", jobs});
        ASSERT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
        EXPECT_GE(fs::file_size(scratch / "hour.ssml.wav"), 5400u * 8000u);
        EXPECT_LE(fs::file_size(scratch / "hour.ssml.wav"), 5410u * 8000u);
        if (!test::sanitizedBuild) {
            EXPECT_LT(outcome.peakKib, 40 << 10) << "-j " << jobs;
        }
    }
}

// The largest document is read as it is parsed, without a tree: 50 MB of short sentences and
// marks took 400 MB as a tree and a script (here a fault at its very end stops it once read).
TEST(SsmlInput, ALargeDocumentIsReadInBoundedMemory) {
    test::ScratchDir scratch;
    const std::string sentence =
        "<s>" + std::string(96, 'a') + " bc</s><mark name=\"" + std::string(40, 'm') + "\"/>";
    test::writeBytes(scratch / "large.ssml", "<speak>" + repeated(sentence, 330'000) + "<");
    ASSERT_GT(fs::file_size(scratch / "large.ssml"), 50'000'000u);
    const Outcome outcome = convertSsml(scratch, "large.ssml");
    EXPECT_EQ(outcome.exitStatus(), 1);
    EXPECT_EQ(test::lineCount(outcome.standardError), 1u) << outcome.standardError;
    if (!test::sanitizedBuild) {
        EXPECT_LT(outcome.peakKib, 256 << 10);
    }
}

// Breaks adding up past a day are refused naming the file, before anything is written: 1193
// hours and 168296 ms wrapped a 32-bit total to 1.9 s of sound and status 0.
TEST(SsmlInput, BreaksBeyondADayAreRefused) {
    test::ScratchDir scratch;
    std::string document = "<speak>Hi.";
    for (int hour = 0; hour < 1193; ++hour)
        document += "<break time=\"3600s\"/>";
    test::writeBytes(scratch / "long.ssml", document + "<break time=\"168296ms\"/></speak>");
    const Outcome outcome = convertSsml(scratch, "long.ssml");
    EXPECT_EQ(outcome.exitStatus(), 1);
    EXPECT_EQ(outcome.standardError,
              "kestrova-wav-cli: long.ssml:1:515: the breaks add up to more than 24 hours of "
              "silence\n");
    EXPECT_FALSE(fs::exists(scratch / "long.ssml.wav"));
}

// A value from the markup cannot forge a line nor rewrite the terminal's.
TEST(SsmlInput, AValueInAMessageStaysOnItsLine) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "forged.ssml",
                     "<speak><break time=\"&#10;kestrova-wav-cli: all good&#13;\"/></speak>");
    const Outcome outcome = convertSsml(scratch, "forged.ssml");
    EXPECT_EQ(outcome.exitStatus(), 1);
    EXPECT_EQ(outcome.standardError,
              "kestrova-wav-cli: forged.ssml:1:8: malformed time $'\\n''kestrova-wav-cli: all "
              "good'$'\\r' of <break>\n");
}

// A document through the real CLI at 8 kHz, timed: the wall-clock seconds it took.
Outcome convertTimed(const test::ScratchDir& scratch, const std::string& input, double& seconds) {
    const auto start = std::chrono::steady_clock::now();
    RunningProgram cli(cliPath, {"convert", "-q", "-f", "4", "-o", input + ".wav", input},
                       scratch.path());
    Outcome outcome = cli.wait(120s);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

// What cmark-gfm or libzip would spend seconds or gigabytes on is refused before they see
// it, at once and naming the file and the line: a table row of 50 000 cells (28 s in
// cmark-gfm's table parser, whose time grows with the square of a row's cells), a paragraph
// of 60 MB (2.3 GB and 70 s as one tree), a book of 30 000 entries (libzip reads them all as
// it opens the book; a million took 12 s).
TEST(DocumentInput, WhatTheParsersCannotBoundIsRefusedAtOnce) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "wide.md", "|a|b|\n|-|-|\n|" + repeated("x|", 50'000) + "\n");
    test::writeBytes(scratch / "long.md", repeated("word ", 12'000'000) + "\n");
    const Outcome made =
        test::runProgram("/usr/bin/python3",
                         {"-c", "import zipfile\nwith zipfile.ZipFile('many.epub', 'w') as z:\n"
                                "    z.writestr('mimetype', 'application/epub+zip')\n"
                                "    for i in range(30000): z.writestr('e%d' % i, '')\n"},
                         scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    const struct {
        const char* file;
        const char* message;
    } cases[] = {
        {"wide.md", "kestrova-wav-cli: cannot read the text file \"wide.md\": line 3: a table row "
                    "of more than 256 cells, the most read\n"},
        {"long.md", "kestrova-wav-cli: cannot read the text file \"long.md\": line 1: a block of "
                    "more than 4 MiB or 200000 marks without a blank line to part it, the most "
                    "read at once\n"},
        {"many.epub", "kestrova-wav-cli: cannot read the book \"many.epub\": it declares 30001 "
                      "entries, more than the 20000 a book may hold\n"},
    };
    for (const auto& c : cases) {
        double seconds = 0;
        const Outcome outcome = convertTimed(scratch, c.file, seconds);
        EXPECT_EQ(outcome.exitStatus(), 1) << c.file;
        EXPECT_EQ(outcome.standardError, c.message);
        EXPECT_FALSE(fs::exists(scratch / (std::string(c.file) + ".wav")));
        if (!test::sanitizedBuild) {
            EXPECT_LT(seconds, 3.0) << c.file;
            EXPECT_LT(outcome.peakKib, 256 << 10) << c.file;
        }
    }
}

} // namespace
} // namespace kestrova
