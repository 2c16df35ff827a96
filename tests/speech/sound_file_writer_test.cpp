#include "speech/audio/sndfile/sound_file_writer.h"
#include "speech/base/unique_fd.h"
#include "speech/speech_error.h"
#include "support/test_support.h"

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace kestrova::speech {
namespace {

using test::readBytes;
using test::readCuePoints;
using test::readSound;
using test::ScratchDir;

std::vector<std::int16_t> ramp(std::size_t frames) {
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<std::int16_t>((i * 37) % 20000 - 10000);
    return samples;
}

// A chapter as the timings give it: its sound begins before its heading (the pause after the
// chapter before), and a cue point marks the heading.
ChapterTiming headingAt(std::string title, std::uint64_t headingFrame) {
    return {
        .title = std::move(title), .startFrame = headingFrame / 2, .headingFrame = headingFrame};
}

// Written as a conversion writes: into a descriptor opened for writing only, in two pieces.
void writeSound(const std::filesystem::path& path, Container container, AudioFormat format,
                std::size_t frames, const std::vector<ChapterTiming>& cues) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    SoundTags tags;
    if (container != Container::Au && container != Container::Raw)
        tags.title = "Das Buch";
    {
        SoundFileWriter writer(fd, container, format, path, frames, tags);
        const std::vector<std::int16_t> samples = ramp(frames);
        writer.write(std::span(samples).first(frames / 3));
        writer.setCuePoints(cues);
        writer.write(std::span(samples).subspan(frames / 3));
        writer.close();
    }
    ::close(fd);
}

struct CueCase {
    const char* label;
    AudioFormat format;
    std::size_t frames;
    std::vector<ChapterTiming> cues;
};

void PrintTo(const CueCase& entry, std::ostream* out) {
    *out << entry.label;
}

std::vector<ChapterTiming> manyCues(std::size_t count, std::size_t frames) {
    std::vector<ChapterTiming> cues;
    for (std::size_t i = 0; i < count; ++i)
        cues.push_back(
            headingAt("Chapter " + std::to_string(i + 1), i * (frames - 1) / (count - 1)));
    return cues;
}

const CueCase cueCases[] = {
    {"chapters at the first, a middle and the last sample",
     {16000, 16, 1},
     16000,
     {headingAt("Chapter 1: The Harbour", 0), headingAt("Chapter Two", 7919),
      headingAt("Epilogue", 16000)}},
    {"8-bit with an odd number of bytes of sound",
     {22050, 8, 1},
     22051,
     {headingAt("Prologue", 1), headingAt("Part One", 22049)}},
    {"stereo, names beyond Latin and one without a name",
     {44100, 16, 2},
     44100,
     {headingAt("Глава первая", 441), headingAt("", 20000), headingAt("第二章 «港»", 30000)}},
    {"more cue points than libsndfile's SF_CUES holds",
     {16000, 16, 1},
     50000,
     manyCues(150, 50000)},
};

class WaveCuePoints : public ::testing::TestWithParam<CueCase> {};

TEST_P(WaveCuePoints, ReadBackAtTheirSamplesWithTheirNames) {
    const CueCase& entry = GetParam();
    ScratchDir scratch;
    const auto path = scratch / "book.wav";
    writeSound(path, Container::Wave, entry.format, entry.frames, entry.cues);

    const auto cues = readCuePoints(path);
    ASSERT_EQ(cues.size(), entry.cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        EXPECT_EQ(cues[i].frame, entry.cues[i].headingFrame) << i;
        EXPECT_EQ(cues[i].name, entry.cues[i].title) << i;
    }
    // The sound and the tags are as without them.
    const auto sound = readSound(path);
    ASSERT_TRUE(sound);
    ASSERT_EQ(static_cast<std::size_t>(sound->info.frames), entry.frames);
    EXPECT_EQ(sound->majorFormat(), SF_FORMAT_WAV);
    const auto expected = ramp(entry.frames);
    for (std::size_t i = 0; i < entry.frames; i += 997)
        ASSERT_NEAR(sound->samples[i * entry.format.channels], expected[i],
                    entry.format.bitsPerSample == 8 ? 256 : 0)
            << i;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(sf_get_string(file, SF_STR_TITLE), "Das Buch");
    sf_close(file);
}

INSTANTIATE_TEST_SUITE_P(Formats, WaveCuePoints, ::testing::ValuesIn(cueCases));

TEST(WaveCuePoints, OnlyAddChunksAfterWhatLibsndfileWrote) {
    ScratchDir scratch;
    writeSound(scratch / "plain.wav", Container::Wave, {16000, 16, 1}, 8000, {});
    writeSound(scratch / "cued.wav", Container::Wave, {16000, 16, 1}, 8000,
               {headingAt("Chapter 1", 0), headingAt("Chapter 2", 4000)});
    const std::string plain = readBytes(scratch / "plain.wav");
    std::string cued = readBytes(scratch / "cued.wav");
    EXPECT_TRUE(readCuePoints(scratch / "plain.wav").empty());
    ASSERT_GT(cued.size(), plain.size());
    // Everything libsndfile wrote stands as it was but the RIFF size.
    EXPECT_NE(cued.substr(4, 4), plain.substr(4, 4));
    cued.replace(4, 4, plain.substr(4, 4));
    EXPECT_EQ(cued.substr(0, plain.size()), plain);
    EXPECT_EQ(cued.compare(plain.size(), 4, "cue "), 0);
}

TEST(WaveCuePoints, ANameLongerThanAReaderKeepsIsCutAtACharacter) {
    ScratchDir scratch;
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "é";
    writeSound(scratch / "long.wav", Container::Wave, {16000, 16, 1}, 1000,
               {headingAt(longName, 10), headingAt("Next", 20)});
    const auto cues = readCuePoints(scratch / "long.wav");
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].name, longName.substr(0, 254));
    EXPECT_EQ(cues[1].name, "Next");
}

class ContainerWithoutCuePoints : public ::testing::TestWithParam<Container> {};

TEST_P(ContainerWithoutCuePoints, IsWrittenAsWithoutThem) {
    ScratchDir scratch;
    writeSound(scratch / "plain", GetParam(), {16000, 16, 1}, 8000, {});
    writeSound(scratch / "cued", GetParam(), {16000, 16, 1}, 8000, {headingAt("Chapter 1", 100)});
    EXPECT_EQ(readBytes(scratch / "cued"), readBytes(scratch / "plain"));
}

INSTANTIATE_TEST_SUITE_P(Others, ContainerWithoutCuePoints,
                         ::testing::Values(Container::Flac, Container::Au, Container::Raw),
                         [](const ::testing::TestParamInfo<Container>& info) {
                             return std::string(info.param == Container::Flac ? "Flac"
                                                : info.param == Container::Au ? "Au"
                                                                              : "Raw");
                         });

// A file size limit the sound fits under and its cue points do not.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST(WaveCuePoints, AFailedWriteNamesTheFileAndItsReason) {
    ScratchDir scratch;
    writeSound(scratch / "plain.wav", Container::Wave, {16000, 16, 1}, 8000, {});
    const auto size = std::filesystem::file_size(scratch / "plain.wav");
    const auto path = scratch / "limited.wav";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    try {
        const FileSizeLimit limit(size);
        SoundTags tags;
        tags.title = "Das Buch";
        SoundFileWriter writer(fd, Container::Wave, {16000, 16, 1}, path, 8000, tags);
        writer.write(ramp(8000));
        writer.setCuePoints({headingAt("Chapter 1", 0)});
        writer.close();
        FAIL() << "the cue points were taken as written";
    } catch (const FileError& failure) {
        EXPECT_NE(std::string(failure.what()).find(path.string()), std::string::npos)
            << failure.what();
        EXPECT_NE(std::string(failure.what()).find("cue points: File too large"), std::string::npos)
            << failure.what();
    }
    ::close(fd);
}

// FLAC's and Ogg's encoders write their last blocks as the file closes, and libsndfile reports
// no failure there: closing one byte short of the finished size fails, naming the file.
TEST(SoundFileWriter, FailsWhenTheLastBlocksCannotBeWritten) {
    for (const Container container : {Container::Flac, Container::OggVorbis, Container::Mp3}) {
        ScratchDir scratch;
        const auto write = [container](const std::filesystem::path& path) {
            const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
            SoundFileWriter writer(fd.get(), container, {16000, 16, 1}, path, 8000);
            writer.write(ramp(8000));
            writer.close();
        };
        write(scratch / "full");
        const auto size = std::filesystem::file_size(scratch / "full");
        const auto path = scratch / "limited";
        try {
            const FileSizeLimit limit(size - 1);
            write(path);
            ADD_FAILURE() << soundFileKind(container) << " taken as written";
        } catch (const FileError& failure) {
            EXPECT_NE(std::string(failure.what())
                          .find(std::string(soundFileKind(container)) + " \"" + path.string() +
                                "\": File too large"),
                      std::string::npos)
                << failure.what();
        }
    }
}

// libsndfile 1.2.0 encodes half of each 16-bit stereo MP3 block from whatever its buffer
// held: the sound must come back as written, in both channels, the same bytes every time.
TEST(SoundFileWriter, WritesStereoMp3AsItsSamples) {
    ScratchDir scratch;
    const AudioFormat stereo{16000, 16, 2};
    writeSound(scratch / "a.mp3", Container::Mp3, stereo, 16000, {});
    writeSound(scratch / "b.mp3", Container::Mp3, stereo, 16000, {});
    EXPECT_EQ(readBytes(scratch / "a.mp3"), readBytes(scratch / "b.mp3"));
    writeSound(scratch / "mono.mp3", Container::Mp3, {16000, 16, 1}, 16000, {});
    const auto sound = readSound(scratch / "a.mp3");
    const auto mono = readSound(scratch / "mono.mp3");
    ASSERT_TRUE(sound && mono);
    ASSERT_EQ(sound->info.frames, mono->info.frames);
    double product = 0, stereoEnergy = 0, monoEnergy = 0;
    for (sf_count_t i = 0; i < sound->info.frames; ++i) {
        const double left = sound->samples[2 * i];
        ASSERT_EQ(sound->samples[2 * i + 1], sound->samples[2 * i]) << i;
        product += left * mono->samples[i];
        stereoEnergy += left * left;
        monoEnergy += double(mono->samples[i]) * mono->samples[i];
    }
    EXPECT_GT(product / std::sqrt(stereoEnergy * monoEnergy), 0.99);
}

// A file's kind names it in a refusal: Opus has no 22.05 kHz.
TEST(SoundFileWriter, RefusesARateOpusLacksNamingAnOpusFile) {
    ScratchDir scratch;
    const auto path = scratch / "x.opus";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    try {
        SoundFileWriter writer(fd, Container::OggOpus, {22050, 16, 1}, path, 100);
        ADD_FAILURE() << "22.05 kHz taken for Opus";
    } catch (const FileError& failure) {
        EXPECT_NE(std::string(failure.what()).find("cannot write the Opus file"), std::string::npos)
            << failure.what();
    }
    ::close(fd);
}

} // namespace
} // namespace kestrova::speech
