// Every container's encoder through the real kestrova-wav-cli: each write checked, the last
// ones made as the file closes included (a file size limit just below the finished size, a
// full device, a pipe whose reader has gone); long silences and long paragraphs, which the
// encoders take in bounded blocks; streams read by each format's own reference tool; Opus at
// the rates it has; and no tag that libsndfile adds by itself.

#include "cli_path.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova {
namespace {

using test::Outcome;
using test::ProgramSetup;
namespace fs = std::filesystem;

struct Kind {
    const char* type;    // --type
    const char* message; // what messages call the file
};

const Kind kinds[] = {{"wav", "wave file"},       {"au", "AU file"},     {"flac", "FLAC file"},
                      {"ogg", "Ogg Vorbis file"}, {"opus", "Opus file"}, {"mp3", "MP3 file"},
                      {"raw", "raw PCM file"}};

std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
    return info.param.type;
}

// Standard error without the line eSpeak NG's audio probe (PulseAudio, through libpcaudio)
// writes when it cannot size its 64 MiB shared memory file under a file size limit.
std::string withoutAudioProbeLine(const std::string& text) {
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line != "ftruncate() failed: File too large")
            kept += line + "\n";
    return kept;
}

Outcome convert(const fs::path& folder, std::vector<std::string> arguments,
                const ProgramSetup& setup = {}) {
    arguments.insert(arguments.begin(), {"convert", "-q", "-e", "slt"});
    return test::runProgram(cliPath, arguments, folder, setup);
}

// A shell pipeline around the converter, "$0" standing for it.
Outcome pipeline(const fs::path& folder, const std::string& script) {
    return test::runProgram("/bin/bash", {"-c", "set -o pipefail; " + script, cliPath}, folder);
}

class EveryContainer : public ::testing::TestWithParam<Kind> {
protected:
    test::ScratchDir scratch;
};

// One byte short of the finished size: the last write fails, FLAC's and Ogg's as the file
// closes. The conversion fails naming the file and the reason; the older file stays.
TEST_P(EveryContainer, FailsOneByteShortOfItsSizeKeepingTheOlderFile) {
    const std::string out = std::string("out.") + GetParam().type;
    test::writeBytes(scratch / "in.txt", "A short text. It ends here.\n");
    const Outcome full =
        convert(scratch.path(), {"--type", GetParam().type, "-o", "full", "in.txt"});
    ASSERT_EQ(full.exitStatus(), 0) << full.standardError;
    const std::string old = "the older file, kept byte for byte";
    test::writeBytes(scratch / out, old);
    const test::Snapshot before = test::snapshot(scratch.path());

    ProgramSetup setup;
    setup.fileSizeBytes = fs::file_size(scratch / "full") - 1;
    const Outcome outcome =
        convert(scratch.path(), {"--type", GetParam().type, "-o", out, "in.txt"}, setup);
    EXPECT_EQ(outcome.exitStatus(), 1) << outcome.standardError;
    EXPECT_EQ(withoutAudioProbeLine(outcome.standardError),
              "kestrova-wav-cli: cannot write the " + std::string(GetParam().message) + " \"" +
                  out + "\": File too large\n");
    EXPECT_EQ(test::withoutResumeFolders(test::snapshot(scratch.path())), before);
}

// Silence of two minutes, and a paragraph past the chunker's 1200 bytes (the most a chunk
// holds, so a longer one gives no larger block), each given to the encoder at once.
TEST_P(EveryContainer, TakesLongSilenceAndLongParagraphs) {
    test::writeBytes(scratch / "pauses.txt", "One. Two. Three.\n");
    test::writeBytes(scratch / "paragraph.txt", test::sentences(1400));
    const Outcome pauses = convert(scratch.path(), {"--sentence-pause", "60000", "--type",
                                                    GetParam().type, "-o", "pauses", "pauses.txt"});
    ASSERT_EQ(pauses.exitStatus(), 0) << pauses.standardError;
    const Outcome paragraph =
        convert(scratch.path(), {"--type", GetParam().type, "-o", "paragraph", "paragraph.txt"});
    ASSERT_EQ(paragraph.exitStatus(), 0) << paragraph.standardError;
    if (std::string(GetParam().type) == "raw") {
        EXPECT_GT(fs::file_size(scratch / "pauses"), 120u * 22050 * 2);
        return;
    }
    const auto sound = test::soundInfo(scratch / "pauses");
    ASSERT_TRUE(sound);
    EXPECT_GT(static_cast<double>(sound->frames) / sound->samplerate, 120.0);
    EXPECT_GT(test::soundInfo(scratch / "paragraph")->frames, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryContainer, ::testing::ValuesIn(kinds), kindName);

class TaggedContainer : public EveryContainer {};

// The tags, chapters and cover are edited into the complete file before it is named: a write
// of that edit that fails (one byte short of the tagged size) fails the conversion the same
// way, and the older file stays.
TEST_P(TaggedContainer, FailsOneByteShortOfItsTaggedSizeKeepingTheOlderFile) {
    const std::string out = std::string("out.") + GetParam().type;
    test::writeBytes(scratch / "in.txt",
                     "Chapter One\n\nA short text.\n\nChapter Two\n\nIt ends.\n");
    test::writeBytes(scratch / "cover.jpg", "\xFF\xD8\xFF" + std::string(20000, 'x'));
    const std::vector<std::string> tagged = {"--type", GetParam().type, "--chapters", "--title",
                                             "Tïtle",  "--cover",       "cover.jpg"};
    std::vector<std::string> arguments = tagged;
    arguments.insert(arguments.end(), {"-o", "full", "in.txt"});
    const Outcome full = convert(scratch.path(), arguments);
    ASSERT_EQ(full.exitStatus(), 0) << full.standardError;
    const std::string old = "the older file, kept byte for byte";
    test::writeBytes(scratch / out, old);
    const test::Snapshot before = test::snapshot(scratch.path());

    ProgramSetup setup;
    setup.fileSizeBytes = fs::file_size(scratch / "full") - 1;
    arguments = tagged;
    arguments.insert(arguments.end(), {"-o", out, "in.txt"});
    const Outcome outcome = convert(scratch.path(), arguments, setup);
    EXPECT_EQ(outcome.exitStatus(), 1) << outcome.standardError;
    EXPECT_EQ(withoutAudioProbeLine(outcome.standardError),
              "kestrova-wav-cli: cannot write the " + std::string(GetParam().message) + " \"" +
                  out + "\": File too large\n");
    EXPECT_EQ(test::withoutResumeFolders(test::snapshot(scratch.path())), before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TaggedContainer,
                         ::testing::Values(kinds[0], kinds[2], kinds[3], kinds[4], kinds[5]),
                         kindName);

// An M4B file one byte short of its finished size: it fails as it is completed (the sound it
// keeps in the file meanwhile makes it larger for a moment), and the older file stays.
TEST(M4b, FailsOneByteShortOfItsSizeKeepingTheOlderFile) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text. It ends here.\n");
    const Outcome full = convert(scratch.path(), {"-o", "full.m4b", "in.txt"});
    ASSERT_EQ(full.exitStatus(), 0) << full.standardError;
    test::writeBytes(scratch / "out.m4b", "the older file, kept byte for byte");
    const test::Snapshot before = test::snapshot(scratch.path());
    ProgramSetup setup;
    setup.fileSizeBytes = fs::file_size(scratch / "full.m4b") - 1;
    const Outcome outcome = convert(scratch.path(), {"-o", "out.m4b", "in.txt"}, setup);
    EXPECT_EQ(outcome.exitStatus(), 1) << outcome.standardError;
    EXPECT_EQ(withoutAudioProbeLine(outcome.standardError),
              "kestrova-wav-cli: cannot write the M4B file \"out.m4b\": File too large\n");
    EXPECT_EQ(test::snapshot(scratch.path()), before);
}

class EveryStream : public EveryContainer {};

// A full device and a reader that has gone: each fails, naming the file and the reason. The
// sentences are chunks of their own, so the first write comes soon and the pipe's 64 KiB are
// passed within a few chunks, in every container.
TEST_P(EveryStream, FailsOnAFullDeviceAndABrokenPipe) {
    test::writeBytes(scratch / "in.txt", test::spacedSentences(40000));
    const std::string kind = GetParam().message;
    const Outcome full =
        convert(scratch.path(), {"--type", GetParam().type, "-o", "/dev/full", "in.txt"});
    EXPECT_EQ(full.exitStatus(), 1);
    EXPECT_EQ(full.standardError, "kestrova-wav-cli: cannot write the " + kind +
                                      " \"/dev/full\": No space left on device\n");
    const Outcome broken = pipeline(
        scratch.path(), std::string("\"$0\" convert -q -e slt --type ") + GetParam().type +
                            " -o - in.txt | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}");
    EXPECT_EQ(broken.exitStatus(), 1);
    EXPECT_EQ(broken.standardError,
              "kestrova-wav-cli: cannot write the " + kind + " \"standard output\": Broken pipe\n");
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryStream,
                         ::testing::ValuesIn(std::begin(kinds) + 1, std::end(kinds)), kindName);

// Each stream read whole by the format's own tool; an MP3 file by mp3val, with its Xing header.
TEST(Streams, PassTheFormatsReferenceTools) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "Read by the reference tools. Every frame of it.\n");
    const std::string convert = "\"$0\" convert -q -e slt -o - --type ";
    const std::pair<std::string, std::string> checks[] = {
        {convert + "flac in.txt | flac -s -t -", ""},
        {convert + "ogg in.txt | ogginfo /dev/stdin", "Logical stream 1 ended"},
        {convert + "opus in.txt | opusinfo /dev/stdin", "Original sample rate: 24000 Hz"},
        {convert + "au in.txt | sox -t au - -t raw - | wc -c", ""},
        // Tagged: mp3val warns of an untagged file.
        {"\"$0\" convert -q -e slt --title T -o f.mp3 in.txt && mp3val f.mp3", "Xing header"},
    };
    for (const auto& [script, says] : checks) {
        const Outcome outcome = pipeline(scratch.path(), script);
        EXPECT_EQ(outcome.exitStatus(), 0) << script << "\n" << outcome.standardError;
        EXPECT_NE(outcome.standardOutput.find(says), std::string::npos) << script << "\n"
                                                                        << outcome.standardOutput;
        EXPECT_EQ(outcome.standardOutput.find("WARNING: "), std::string::npos)
            << outcome.standardOutput;
    }
    // An MP3 stream is the file without its first frame, the Xing header: no empty frame
    // held for a header that cannot be completed.
    ASSERT_EQ(pipeline(scratch.path(),
                       "\"$0\" convert -q -e slt -o - --type mp3 in.txt | cat >s.mp3 "
                       "&& \"$0\" convert -q -e slt -o f.mp3 in.txt")
                  .exitStatus(),
              0);
    const std::string stream = test::readBytes(scratch / "s.mp3");
    const std::string file = test::readBytes(scratch / "f.mp3");
    ASSERT_LT(stream.size(), file.size());
    EXPECT_LT(file.size() - stream.size(), 2881u); // an MPEG frame's most
    EXPECT_TRUE(file.ends_with(stream));
    // sox's count of the AU stream's bytes: the whole sound, not a header's zero length.
    const Outcome au =
        pipeline(scratch.path(), convert + "au in.txt | sox -t au - -t raw - | wc -c");
    EXPECT_GT(std::stoul(au.standardOutput), 22050u);
}

// Opus has no 22.05 kHz: the file is made at 24 kHz and the summary says so; a rate Opus
// lacks asked for by -f is bad usage before anything is rendered.
TEST(Opus, TakesTheNextRateItHasUnlessOneIsAskedFor) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "Opus at its own rate.\n");
    const Outcome made = test::runProgram(
        cliPath, {"convert", "-e", "slt", "-o", "x.opus", "in.txt"}, scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    EXPECT_NE(made.standardError.find("24000 Hz 16-bit mono (Opus has no 22050 Hz)"),
              std::string::npos)
        << made.standardError;
    const Outcome info = pipeline(scratch.path(), "opusinfo x.opus");
    EXPECT_NE(info.standardOutput.find("Original sample rate: 24000 Hz"), std::string::npos)
        << info.standardOutput;

    const Outcome refused = convert(scratch.path(), {"-f", "10", "-o", "y.opus", "in.txt"});
    EXPECT_EQ(refused.exitStatus(), 2);
    EXPECT_NE(refused.standardError.find("Opus has no 11025 Hz"), std::string::npos)
        << refused.standardError;
    EXPECT_FALSE(fs::exists(scratch / "y.opus"));
}

// libsndfile numbers each Ogg stream from the clock: two runs give the same bytes, a file the
// same as a stream, and the reference tools read them without a warning.
TEST(Ogg, IsTheSameBytesEveryRun) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "The same bytes, run after run.\n");
    for (const std::string type : {"ogg", "opus"}) {
        const std::string convert = "\"$0\" convert -q -e slt --title T ";
        std::string script;
        for (const std::string run : {"1", "2"})
            script += convert + "-o file" + run + "." + type + " in.txt && " + convert + "--type " +
                      type + " -o - in.txt >stream" + run + " && ";
        script += "cmp file1." + type + " file2." + type + " && cmp stream1 stream2 && cmp file1." +
                  type + " stream1";
        const Outcome same = pipeline(scratch.path(), script);
        EXPECT_EQ(same.exitStatus(), 0) << type << "\n" << same.standardOutput;

        const Outcome info = pipeline(scratch.path(), (type == "ogg" ? "ogginfo " : "opusinfo ") +
                                                          std::string("file1.") + type);
        EXPECT_EQ(info.exitStatus(), 0) << info.standardOutput;
        EXPECT_EQ(info.standardOutput.find("WARNING"), std::string::npos) << info.standardOutput;
        const Outcome probe =
            pipeline(scratch.path(), "ffprobe -v error -show_streams file1." + type);
        EXPECT_EQ(probe.exitStatus(), 0);
        EXPECT_EQ(probe.standardError, "") << type;
    }
}

// libsndfile gives every Ogg Vorbis file ENCODER=libsndfile: none is written, with or
// without tags of the user's.
TEST(OggVorbis, CarriesOnlyTheTagsAskedFor) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "No tag here.\n");
    ASSERT_EQ(convert(scratch.path(), {"-o", "plain.ogg", "in.txt"}).exitStatus(), 0);
    ASSERT_EQ(convert(scratch.path(), {"--title", "T", "-o", "titled.ogg", "in.txt"}).exitStatus(),
              0);
    const Outcome plain =
        pipeline(scratch.path(), "vorbiscomment -l plain.ogg && ogginfo plain.ogg");
    EXPECT_EQ(plain.exitStatus(), 0) << plain.standardError;
    EXPECT_EQ(plain.standardOutput.find("ENCODER"), std::string::npos) << plain.standardOutput;
    const Outcome titled = pipeline(scratch.path(), "vorbiscomment -l titled.ogg");
    EXPECT_EQ(titled.standardOutput.substr(0, 8), "TITLE=T\n") << titled.standardOutput;
    EXPECT_EQ(titled.standardOutput.find("ENCODER"), std::string::npos) << titled.standardOutput;
}

} // namespace
} // namespace kestrova
