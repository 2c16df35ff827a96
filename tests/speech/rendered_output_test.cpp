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
    request.input.firstCharacter = GetParam().first;
    request.input.characterCount = GetParam().count;
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
