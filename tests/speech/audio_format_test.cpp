#include "speech/audio_format.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace kestrova::speech {
namespace {

struct CodeCase {
    int code;
    AudioFormat format;
};

void PrintTo(const CodeCase& entry, std::ostream* out) {
    *out << entry.code << " -> " << entry.format.describe();
}

// SAPI 5's SpeechAudioFormatType, SAFT8kHz8BitMono (4) to SAFT48kHz16BitStereo (39).
const CodeCase pcmCodes[] = {
    {4, {8000, 8, 1}},   {5, {8000, 8, 2}},   {6, {8000, 16, 1}},   {7, {8000, 16, 2}},
    {8, {11025, 8, 1}},  {9, {11025, 8, 2}},  {10, {11025, 16, 1}}, {11, {11025, 16, 2}},
    {12, {12000, 8, 1}}, {13, {12000, 8, 2}}, {14, {12000, 16, 1}}, {15, {12000, 16, 2}},
    {16, {16000, 8, 1}}, {17, {16000, 8, 2}}, {18, {16000, 16, 1}}, {19, {16000, 16, 2}},
    {20, {22050, 8, 1}}, {21, {22050, 8, 2}}, {22, {22050, 16, 1}}, {23, {22050, 16, 2}},
    {24, {24000, 8, 1}}, {25, {24000, 8, 2}}, {26, {24000, 16, 1}}, {27, {24000, 16, 2}},
    {28, {32000, 8, 1}}, {29, {32000, 8, 2}}, {30, {32000, 16, 1}}, {31, {32000, 16, 2}},
    {32, {44100, 8, 1}}, {33, {44100, 8, 2}}, {34, {44100, 16, 1}}, {35, {44100, 16, 2}},
    {36, {48000, 8, 1}}, {37, {48000, 8, 2}}, {38, {48000, 16, 1}}, {39, {48000, 16, 2}},
};

class PcmFormatCode : public ::testing::TestWithParam<CodeCase> {};

TEST_P(PcmFormatCode, DecodesToItsRateSampleSizeAndChannels) {
    const AudioFormat format = AudioFormat::fromFormatCode(GetParam().code);
    EXPECT_EQ(format.sampleRate, GetParam().format.sampleRate);
    EXPECT_EQ(format.bitsPerSample, GetParam().format.bitsPerSample);
    EXPECT_EQ(format.channels, GetParam().format.channels);
}

TEST_P(PcmFormatCode, RoundTripsThroughFormatCode) {
    EXPECT_EQ(GetParam().format.formatCode(), GetParam().code);
    EXPECT_EQ(AudioFormat::fromFormatCode(GetParam().code).formatCode(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(AllPcmCodes, PcmFormatCode, ::testing::ValuesIn(pcmCodes));

TEST(PcmFormatCodeTable, CoversEveryCodeOfTheFamily) {
    ASSERT_EQ(std::size(pcmCodes),
              static_cast<std::size_t>(AudioFormat::lastPcmCode - AudioFormat::firstPcmCode + 1));
    EXPECT_EQ(pcmCodes[0].code, AudioFormat::firstPcmCode);
    EXPECT_EQ(pcmCodes[std::size(pcmCodes) - 1].code, AudioFormat::lastPcmCode);
}

class NonPcmFormatCode : public ::testing::TestWithParam<int> {};

TEST_P(NonPcmFormatCode, IsRefusedWithTheCodeInTheMessage) {
    try {
        AudioFormat::fromFormatCode(GetParam());
        FAIL() << "code " << GetParam() << " was accepted";
    } catch (const SpeechError& error) {
        EXPECT_NE(std::string(error.what()).find(std::to_string(GetParam())), std::string::npos)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(OutsideFourToThirtyNine, NonPcmFormatCode,
                         ::testing::Values(3, 40, -1, 0, 1, 2, 41, 65, 99, -2147483647 - 1,
                                           2147483647));

class FormatWithoutCode : public ::testing::TestWithParam<AudioFormat> {};

TEST_P(FormatWithoutCode, Throws) {
    EXPECT_THROW(GetParam().formatCode(), SpeechError);
}

INSTANTIATE_TEST_SUITE_P(Unlisted, FormatWithoutCode,
                         ::testing::Values(AudioFormat{44000, 16, 1}, AudioFormat{96000, 16, 1},
                                           AudioFormat{0, 16, 1}, AudioFormat{22050, 24, 1},
                                           AudioFormat{22050, 0, 1}, AudioFormat{22050, 16, 0},
                                           AudioFormat{22050, 16, 3}));

TEST(AudioFormat, DefaultIsTheTwentyTwoKilohertzMonoCode) {
    EXPECT_EQ(AudioFormat{}.formatCode(), 22);
}

TEST(AudioFormat, DescribesRateSampleSizeAndChannels) {
    EXPECT_EQ(AudioFormat::fromFormatCode(22).describe(), "22050 Hz 16-bit mono");
    EXPECT_EQ(AudioFormat::fromFormatCode(5).describe(), "8000 Hz 8-bit stereo");
    EXPECT_EQ(AudioFormat::fromFormatCode(39).describe(), "48000 Hz 16-bit stereo");
}

struct ContainerCase {
    std::string path;
    Container container;
};

void PrintTo(const ContainerCase& entry, std::ostream* out) {
    *out << '"' << entry.path << '"';
}

class ContainerForPath : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(ContainerForPath, FollowsTheLastEndingInAnyLetterCase) {
    EXPECT_EQ(containerForPath(GetParam().path), GetParam().container);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ContainerForPath,
    ::testing::Values(
        ContainerCase{"out.wav", Container::Wave}, ContainerCase{"OUT.WAV", Container::Wave},
        ContainerCase{"out", Container::Wave}, ContainerCase{"/tmp/a.b/out", Container::Wave},
        ContainerCase{"out.flac", Container::Flac}, ContainerCase{"out.FLAC", Container::Flac},
        ContainerCase{"out.ogg", Container::OggVorbis},
        ContainerCase{"out.Ogg", Container::OggVorbis},
        ContainerCase{"out.opus", Container::OggOpus},
        ContainerCase{"out.OPUS", Container::OggOpus}, ContainerCase{"out.mp3", Container::Mp3},
        ContainerCase{"out.Mp3", Container::Mp3}, ContainerCase{"x.Wav.txt", Container::Wave},
        ContainerCase{"x.flac.wav", Container::Wave}, ContainerCase{"x.wav.flac", Container::Flac},
        ContainerCase{"x.txt", Container::Wave}, ContainerCase{"x.aiff", Container::Wave},
        ContainerCase{"x.flac2", Container::Wave}, ContainerCase{"x.fla", Container::Wave},
        ContainerCase{".flac", Container::Wave}, ContainerCase{"dir.flac/out", Container::Wave},
        ContainerCase{"", Container::Wave}, ContainerCase{"book.m4b", Container::M4b},
        ContainerCase{"book.M4A", Container::M4b}, ContainerCase{"book.mp4", Container::Wave}));

// Opus is made at the next rate it has; every other container at the rate asked for.
TEST(WrittenFormat, RaisesOpusToTheNextRateItHas) {
    const std::pair<int, int> opusRates[] = {{8000, 8000},   {11025, 12000}, {12000, 12000},
                                             {16000, 16000}, {22050, 24000}, {24000, 24000},
                                             {32000, 48000}, {44100, 48000}, {48000, 48000}};
    for (const auto& [asked, written] : opusRates) {
        const AudioFormat format{asked, 8, 2};
        EXPECT_EQ(writtenFormat(Container::OggOpus, format), (AudioFormat{written, 8, 2})) << asked;
        for (const Container other :
             {Container::Wave, Container::Flac, Container::OggVorbis, Container::Mp3, Container::Au,
              Container::Raw, Container::M4b})
            EXPECT_EQ(writtenFormat(other, format), format) << asked;
    }
}

// The table every container rule is read from: one row per container, its --type name and
// its ending agreeing, its name and its ending leading back to it.
TEST(ContainerTable, HasOneAgreeingRowPerContainer) {
    const Container all[] = {Container::Wave,    Container::Flac, Container::OggVorbis,
                             Container::OggOpus, Container::Mp3,  Container::Au,
                             Container::Raw,     Container::M4b};
    ASSERT_EQ(containerRows().size(), std::size(all));
    for (const Container container : all) {
        const ContainerRow& row = containerRow(container);
        EXPECT_EQ(row.container, container);
        EXPECT_EQ(std::string(row.ending), std::string(".") + row.typeName);
        EXPECT_EQ(containerNamed(row.typeName), container) << row.typeName;
        const std::string named = std::string("out") + row.ending;
        EXPECT_EQ(containerForPath(named), row.chosenByEnding ? container : Container::Wave);
        EXPECT_TRUE(std::is_sorted(row.rates.begin(), row.rates.end())) << row.typeName;
    }
    EXPECT_FALSE(containerNamed("WAV")); // --type's own transform ignores the case
    EXPECT_EQ(typeNamesWhere(&ContainerRow::holdsTags, "or"), "wav, flac, ogg, opus, mp3 or m4b");
    EXPECT_EQ(typeNamesWhere(&ContainerRow::streamable, "and"), "au, flac, ogg, opus, mp3 and raw");
}

} // namespace
} // namespace kestrova::speech
