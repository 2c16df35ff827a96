#include "speech/speech_error.h"
#include "support/conversion_support.h"
#include "support/value_sweep.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

using test::conversion;
using test::ScratchDir;

struct RenderCase {
    std::string voice;
    int formatCode;
};

std::string caseName(const ::testing::TestParamInfo<RenderCase>& info) {
    std::string name;
    for (char c : info.param.voice)
        if (std::isalnum(static_cast<unsigned char>(c)))
            name.push_back(c);
    return name + "_Code" + std::to_string(info.param.formatCode);
}

class RenderWave : public ::testing::TestWithParam<RenderCase> {
protected:
    ScratchDir scratch;
};

TEST_P(RenderWave, WritesAPlainPcmWaveOfTheSpeech) {
    const AudioFormat format = AudioFormat::fromFormatCode(GetParam().formatCode);
    const auto input = scratch / "in.txt";
    const auto output = scratch / "out.wav";
    test::writeBytes(input, test::shortText);

    const ConversionResult result =
        convertTextFile(conversion(input, output, GetParam().voice, GetParam().formatCode));

    const auto sound = test::readSound(output);
    ASSERT_TRUE(sound) << "libsndfile cannot read " << output;
    EXPECT_EQ(sound->info.samplerate, format.sampleRate);
    EXPECT_EQ(sound->info.channels, format.channels);
    EXPECT_EQ(sound->info.format,
              SF_FORMAT_WAV | (format.bitsPerSample == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16));
    EXPECT_GT(sound->seconds(), 0.5);
    EXPECT_LT(sound->seconds(), 10.0);
    EXPECT_GT(sound->peak(), 2000) << "the speech is (nearly) silent";
    EXPECT_EQ(result.frames, static_cast<std::uint64_t>(sound->info.frames));
    EXPECT_DOUBLE_EQ(result.seconds, sound->seconds());
    if (format.channels == 2) {
        for (std::size_t i = 0; i + 1 < sound->samples.size(); i += 2)
            ASSERT_EQ(sound->samples[i], sound->samples[i + 1]) << "frame " << i / 2;
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "out.wav"}));
    EXPECT_EQ(test::readBytes(input), test::shortText) << "the input was changed";
}

INSTANTIATE_TEST_SUITE_P(VoicesAndFormats, RenderWave,
                         test::sweep(RenderCase{"eSpeak NG English (America)", 18},
                                     RenderCase{"eSpeak NG English (America)", 22},
                                     RenderCase{"eSpeak NG English (America)", 5},
                                     RenderCase{"eSpeak NG English (America)", 39},
                                     RenderCase{"Flite slt", 18}, RenderCase{"Flite slt", 22},
                                     RenderCase{"Flite slt", 5}, RenderCase{"Flite slt", 39},
                                     RenderCase{"Flite kal", 18}, RenderCase{"Flite kal", 22},
                                     RenderCase{"Flite kal", 4}, RenderCase{"Flite kal", 39}),
                         caseName);

class RenderAtEveryRate : public ::testing::TestWithParam<std::string> {};

// Resampling changes the rate, never the length of the speech: nothing is dropped at the
// end of a chunk or of the text.
TEST_P(RenderAtEveryRate, KeepsTheLengthOfTheSpeech) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    test::writeBytes(input, test::paragraphs);
    const int nativeRate = test::installedVoices().find(GetParam()).nativeRate;
    double nativeSeconds = 0;
    std::vector<std::pair<int, double>> lengths;
    for (int code : {6, 14, 18, 22, 34, 38}) {
        const auto output = scratch / ("out" + std::to_string(code) + ".wav");
        const ConversionResult result =
            convertTextFile(conversion(input, output, GetParam(), code));
        lengths.emplace_back(code, result.seconds);
        if (AudioFormat::fromFormatCode(code).sampleRate == nativeRate)
            nativeSeconds = result.seconds;
    }
    if (nativeSeconds == 0)
        nativeSeconds = lengths.front().second;
    for (const auto& [code, seconds] : lengths)
        EXPECT_NEAR(seconds, nativeSeconds, 0.01) << "format code " << code;
}

INSTANTIATE_TEST_SUITE_P(Voices, RenderAtEveryRate,
                         test::sweep("eSpeak NG English (America)", "Flite slt", "Flite kal"),
                         [](const auto& info) {
                             std::string name;
                             for (char c : info.param)
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     name.push_back(c);
                             return name;
                         });

TEST(Render, IsTheSameRunAfterRun) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    test::writeBytes(input, test::shortText);
    // Ogg Vorbis and Opus too: libsndfile numbers their streams from the clock.
    for (const char* voice : {"Flite slt", "eSpeak NG English (America)"})
        for (const std::string ending : {".wav", ".ogg", ".opus"}) {
            convertTextFile(conversion(input, scratch / ("a" + ending), voice, 22));
            convertTextFile(conversion(input, scratch / ("b" + ending), voice, 22));
            EXPECT_TRUE(test::readBytes(scratch / ("a" + ending)) ==
                        test::readBytes(scratch / ("b" + ending)))
                << voice << ending;
        }
}

struct JobsCase {
    std::string voice;
    int formatCode;
};

void PrintTo(const JobsCase& entry, std::ostream* out) {
    *out << entry.voice << ", code " << entry.formatCode;
}

class RenderWithJobs : public ::testing::TestWithParam<JobsCase> {};

std::string renderLongText(const ScratchDir& scratch, const JobsCase& entry, unsigned jobs,
                           const std::string& name) {
    const auto input = scratch / "in.txt";
    test::writeBytes(input, test::longText());
    ConversionRequest request = conversion(input, scratch / name, entry.voice, entry.formatCode);
    request.speech.jobs = jobs;
    const ConversionResult result = convertTextFile(request);
    EXPECT_GT(result.seconds, 60.0) << "jobs " << jobs;
    return test::readBytes(scratch / name);
}

// Each run of chunks starts from a fresh engine state, and where runs end depends on the text
// alone (this text makes two runs, the first of several chunks): whichever worker renders a
// run, and however many there are, the file is the same, byte for byte.
TEST_P(RenderWithJobs, GivesTheSameFileForAnyNumberOfWorkers) {
    ScratchDir scratch;
    const std::string one = renderLongText(scratch, GetParam(), 1, "one.wav");
    EXPECT_TRUE(renderLongText(scratch, GetParam(), 3, "three.wav") == one);
    EXPECT_TRUE(renderLongText(scratch, GetParam(), 1, "again.wav") == one);
    EXPECT_TRUE(test::leftoverParts(scratch.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Voices, RenderWithJobs,
                         test::sweep(JobsCase{"eSpeak NG English (America)", 4},
                                     JobsCase{"eSpeak NG English (America)", 22},
                                     JobsCase{"Flite kal", 4}));

struct TextCase {
    std::string voice;
    std::string text;
};

class SameBytes : public ::testing::TestWithParam<TextCase> {};

// A conversion's bytes depend on its text, voice and options alone: the first in a process or
// the tenth, with 0, 1 or 2 jobs, after another text and after the process drew on the C
// library's generator (which eSpeak NG and Flite draw their noise from), the file is the same.
TEST_P(SameBytes, FirstOrTenthInAProcessForAnyJobs) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", GetParam().text);
    test::writeBytes(scratch / "other.txt", "Another text, spoken in between. It ends here.");
    const auto bytesOf = [&](const char* input, unsigned jobs) {
        ConversionRequest request =
            conversion(scratch / input, scratch / "out.wav", GetParam().voice, 22);
        request.speech.jobs = jobs;
        convertTextFile(request);
        return test::readBytes(scratch / "out.wav");
    };
    const std::string first = bytesOf("in.txt", 2);
    for (unsigned round = 0; round < 3; ++round) {
        ::srand(round + 7);
        for (unsigned draw = 0; draw < 1000 * round; ++draw)
            static_cast<void>(::rand());
        bytesOf("other.txt", round);
        for (const unsigned jobs : {0u, 1u, 2u})
            EXPECT_TRUE(bytesOf("in.txt", jobs) == first) << "round " << round << ", jobs " << jobs;
    }
}

INSTANTIATE_TEST_SUITE_P(Voices, SameBytes,
                         test::sweep(TextCase{"eSpeak NG English (America)", test::longText()},
                                     TextCase{"Flite slt", std::string(test::paragraphs)}),
                         [](const auto& info) {
                             return info.param.voice.starts_with("Flite") ? "Flite" : "ESpeak";
                         });

struct OverrideCase {
    std::string name;
    std::string fileName;
    Container container;
    int formatCode;
    int majorFormat;
};

void PrintTo(const OverrideCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ContainerOverride : public ::testing::TestWithParam<OverrideCase> {};

TEST_P(ContainerOverride, WinsOverTheEnding) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "Hi there.");
    ConversionRequest request = conversion(scratch / "in.txt", scratch / GetParam().fileName,
                                           "Flite slt", GetParam().formatCode);
    request.output.container = GetParam().container;
    convertTextFile(request);
    const auto sound = test::readSound(scratch / GetParam().fileName);
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->majorFormat(), GetParam().majorFormat);
    EXPECT_GT(sound->info.frames, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, ContainerOverride,
    test::sweep(OverrideCase{"FlacNamedWav", "out.wav", Container::Flac, 22, SF_FORMAT_FLAC},
                OverrideCase{"WaveNamedFlac", "out.flac", Container::Wave, 22, SF_FORMAT_WAV},
                // A wave holds any rate, though the name says Opus.
                OverrideCase{"WaveNamedOpus", "out.opus", Container::Wave, 22, SF_FORMAT_WAV},
                OverrideCase{"VorbisWithoutEnding", "out", Container::OggVorbis, 18,
                             SF_FORMAT_OGG}),
    [](const auto& info) { return info.param.name; });
} // namespace
} // namespace kestrova::speech
