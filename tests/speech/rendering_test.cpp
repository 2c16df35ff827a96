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
    request.jobs = jobs;
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
        request.jobs = jobs;
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
    request.container = GetParam().container;
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

TEST(Render, ParagraphsTakeLongerThanOneOfThem) {
    ScratchDir scratch;
    test::writeBytes(scratch / "one.txt", "First paragraph.\n");
    test::writeBytes(scratch / "all.txt", test::paragraphs);
    const auto one = convertTextFile(conversion(scratch / "one.txt", scratch / "one.wav"));
    const auto all = convertTextFile(conversion(scratch / "all.txt", scratch / "all.wav"));
    EXPECT_GT(all.seconds, 3 * one.seconds);
}

struct EmptyCase {
    std::string name;
    std::string bytes;
    std::string voice;
};

void PrintTo(const EmptyCase& entry, std::ostream* out) {
    *out << entry.name;
}

class RenderEmptyText : public ::testing::TestWithParam<EmptyCase> {};

TEST_P(RenderEmptyText, WritesAValidWaveWithoutFrames) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    const auto output = scratch / "out.wav";
    test::writeBytes(input, GetParam().bytes);
    const ConversionResult result = convertTextFile(conversion(input, output, GetParam().voice));
    EXPECT_EQ(result.frames, 0u);
    EXPECT_EQ(result.seconds, 0.0);
    const auto sound = test::readSound(output);
    ASSERT_TRUE(sound) << "libsndfile cannot read the empty wave";
    EXPECT_EQ(sound->info.frames, 0);
    EXPECT_EQ(sound->info.samplerate, 22050);
    EXPECT_EQ(sound->info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RenderEmptyText,
    test::sweep(EmptyCase{"EmptyESpeak", "", "eSpeak NG English (America)"},
                EmptyCase{"EmptyFlite", "", "Flite slt"},
                EmptyCase{"WhitespaceESpeak", "  \n\n \t \r\n  ", "eSpeak NG English (America)"},
                EmptyCase{"WhitespaceFlite", "  \n\n \t \r\n  ", "Flite kal"},
                EmptyCase{"MarkOnly", "\xEF\xBB\xBF", "Flite slt"},
                EmptyCase{"Utf16MarkOnly", "\xFF\xFE", "Flite slt"},
                EmptyCase{"ControlsOnly", std::string("\0\x01\x02\x7F", 4), "Flite slt"}),
    [](const auto& info) { return info.param.name; });

struct ModeCase {
    mode_t umask;
    mode_t mode;
};

class OutputMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(OutputMode, FollowsTheUmaskLikeAnyNewFile) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    test::writeBytes(input, "Hi.");
    const mode_t previous = ::umask(GetParam().umask);
    struct stat status {};
    const bool converted = [&] {
        try {
            convertTextFile(conversion(input, scratch / "out.wav"));
            convertTextFile(conversion(input, scratch / "out.flac"));
            return true;
        } catch (const SpeechError&) {
            return false;
        }
    }();
    ::umask(previous);
    ASSERT_TRUE(converted);
    for (const char* name : {"out.wav", "out.flac"}) {
        ASSERT_EQ(::stat((scratch / name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, GetParam().mode) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Umasks, OutputMode,
                         test::sweep(ModeCase{022, 0644}, ModeCase{077, 0600}, ModeCase{002, 0664},
                                     ModeCase{0, 0666}));

TEST(OutputMode, AReplacedFileKeepsItsMode) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    const auto output = scratch / "out.wav";
    test::writeBytes(input, "Hi.");
    test::writeBytes(output, "old");
    ::chmod(output.c_str(), 0600);
    const mode_t previous = ::umask(022);
    convertTextFile(conversion(input, output));
    ::umask(previous);
    struct stat status {};
    ASSERT_EQ(::stat(output.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_TRUE(test::readSound(output));
}

struct ContainerCase {
    std::string name;
    std::string ending;
    int formatCode;
    int majorFormat;
    int subFormat; // 0: any
};

void PrintTo(const ContainerCase& entry, std::ostream* out) {
    *out << entry.name;
}

class RenderContainer : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(RenderContainer, IsReadableBackWithTheWholeSpeech) {
    if (GetParam().majorFormat == SF_FORMAT_MPEG) {
        SF_INFO probe{};
        probe.samplerate = 22050;
        probe.channels = 1;
        probe.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        if (!sf_format_check(&probe))
            GTEST_SKIP() << "this libsndfile cannot write MPEG";
    }
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    test::writeBytes(input, test::shortText);
    const AudioFormat format = AudioFormat::fromFormatCode(GetParam().formatCode);
    const auto output = scratch / ("out" + GetParam().ending);
    const ConversionResult result =
        convertTextFile(conversion(input, output, "Flite slt", GetParam().formatCode));
    const ConversionResult wave =
        convertTextFile(conversion(input, scratch / "out.wav", "Flite slt", GetParam().formatCode));
    EXPECT_EQ(result.frames, wave.frames);

    const auto sound = test::readSound(output);
    ASSERT_TRUE(sound) << "libsndfile cannot read " << output;
    EXPECT_EQ(sound->majorFormat(), GetParam().majorFormat);
    if (GetParam().subFormat != 0) {
        EXPECT_EQ(sound->subFormat(), GetParam().subFormat);
    }
    EXPECT_EQ(sound->info.samplerate, format.sampleRate);
    EXPECT_EQ(sound->info.channels, format.channels);
    EXPECT_GT(sound->info.frames, 0);
    // Lossy codecs pad the ends a little, and lose nothing.
    EXPECT_NEAR(sound->seconds(), wave.seconds, 0.15);
    EXPECT_GT(sound->peak(), 2000);
    EXPECT_TRUE(test::leftoverParts(scratch.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, RenderContainer,
    test::sweep(ContainerCase{"Flac16", ".flac", 18, SF_FORMAT_FLAC, SF_FORMAT_PCM_16},
                ContainerCase{"Flac8Stereo", ".flac", 5, SF_FORMAT_FLAC, SF_FORMAT_PCM_S8},
                ContainerCase{"FlacUpperCase", ".FLAC", 22, SF_FORMAT_FLAC, SF_FORMAT_PCM_16},
                ContainerCase{"Vorbis", ".ogg", 22, SF_FORMAT_OGG, SF_FORMAT_VORBIS},
                ContainerCase{"Opus16k", ".opus", 18, SF_FORMAT_OGG, SF_FORMAT_OPUS},
                ContainerCase{"Opus48kStereo", ".opus", 39, SF_FORMAT_OGG, SF_FORMAT_OPUS},
                ContainerCase{"Mp3", ".mp3", 22, SF_FORMAT_MPEG, 0}),
    [](const auto& info) { return info.param.name; });

::testing::AssertionResult risesFromZeroToOne(const std::vector<double>& values) {
    if (values.size() < 2)
        return ::testing::AssertionFailure() << values.size() << " progress calls";
    if (values.front() != 0.0 || values.back() != 1.0)
        return ::testing::AssertionFailure()
               << "from " << values.front() << " to " << values.back();
    for (std::size_t i = 1; i < values.size(); ++i)
        if (values[i] < values[i - 1] || values[i] > 1.0)
            return ::testing::AssertionFailure()
                   << "call " << i << ": " << values[i] << " after " << values[i - 1];
    return ::testing::AssertionSuccess();
}

struct ProgressCase {
    std::string name;
    std::string voice;
    std::string text;
    std::uint64_t first = 0;
    std::optional<std::uint64_t> count;
};

void PrintTo(const ProgressCase& entry, std::ostream* out) {
    *out << entry.name;
}

class RenderProgress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(RenderProgress, RisesFromZeroToOne) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    test::writeBytes(input, GetParam().text);
    ConversionRequest request = conversion(input, scratch / "out.wav", GetParam().voice, 4);
    request.firstCharacter = GetParam().first;
    request.characterCount = GetParam().count;
    std::vector<double> values;
    convertTextFile(request, [&](double fraction) { values.push_back(fraction); });
    EXPECT_TRUE(risesFromZeroToOne(values));
}

const std::optional<std::uint64_t> toTheEnd;

INSTANTIATE_TEST_SUITE_P(
    Texts, RenderProgress,
    test::sweep(
        ProgressCase{"LongText", std::string(test::fastVoice), test::longText(), 0, toTheEnd},
        ProgressCase{"Paragraphs", "Flite slt", std::string(test::paragraphs), 0, toTheEnd},
        ProgressCase{"OneSentence", "Flite slt", std::string(test::shortText), 0, toTheEnd},
        ProgressCase{"Empty", "Flite slt", "", 0, toTheEnd},
        ProgressCase{"PartOfTheText", std::string(test::fastVoice), test::longText(), 900, 1000},
        ProgressCase{"FromTheMiddle", std::string(test::fastVoice), test::longText(), 1500,
                     toTheEnd},
        ProgressCase{"PastTheEnd", "Flite slt", std::string(test::shortText), 100, toTheEnd},
        // C1 controls decode to two spaces each: more characters than the file counts.
        ProgressCase{"MoreCharactersThanCounted", "Flite slt",
                     "Hello \xC2\x85\xC2\x85\xC2\x85 world.", 0, toTheEnd}),
    [](const auto& info) { return info.param.name; });

TEST(RenderProgressOfALongText, MovesThroughTheText) {
    ScratchDir scratch;
    const auto input = scratch / "in.txt";
    test::writeBytes(input, test::longText());
    std::vector<double> values;
    convertTextFile(conversion(input, scratch / "out.wav", test::fastVoice, 4),
                    [&](double fraction) { values.push_back(fraction); });
    ASSERT_GE(values.size(), 5u) << "a start, three chunks or more, and the end";
    EXPECT_GT(values[1], 0.1);
    EXPECT_LT(values[1], 0.6);
    EXPECT_TRUE(risesFromZeroToOne(values));
}

} // namespace
} // namespace kestrova::speech
