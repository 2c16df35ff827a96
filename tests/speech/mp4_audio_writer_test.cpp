// The M4B writer on its own: the cover and the chapters as mutagen reads them, the refusals,
// a stop flag, and its encoding threads: the samples kept in order, the stretches joined into
// one track as one encoder gives it, its failures reported.

#include "speech/audio/mp4/mp4_audio_writer.h"
#include "speech/speech_error.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace kestrova::speech {
namespace {

using test::ScratchDir;

// Three seconds of a rising tone, as a conversion gives them: in pieces.
void writeTone(Mp4AudioWriter& writer) {
    std::vector<std::int16_t> samples(3 * 22050);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>((i * (40 + i / 2000)) % 16000 - 8000);
    writer.write(std::span(samples).first(1000));
    writer.write(std::span(samples).subspan(1000));
}

// Five-second bursts of a rising tone with a quarter second of digital silence between them,
// 70 s in all, a whole number of frames: three cuts, four stretches.
std::vector<std::int16_t> toneBursts() {
    std::vector<std::int16_t> samples(1507 * 1024);
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (i % 115'762 < 110'250)
            samples[i] = static_cast<std::int16_t>((i * (40 + i % 110'250 / 2000)) % 16000 - 8000);
    return samples;
}

// The picture's own bytes: the muxer takes them as they are.
const std::string pngBytes = std::string("\x89PNG\r\n\x1a\n", 8) + "picture bytes";

TEST(Mp4AudioWriter, CarriesTheCoverAndTheChaptersGiven) {
    ScratchDir scratch;
    const auto path = scratch / "tone.m4b";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    SoundTags tags;
    tags.title = "Ton";
    tags.cover = CoverArt{.mediaType = "image/png", .bytes = pngBytes};
    {
        Mp4AudioWriter writer(fd, AudioFormat{}, path, tags, 64);
        writeTone(writer);
        // Each runs from its start to the next one's: its heading and end are the other
        // writers' to use.
        writer.setChapters({{.title = "Eins", .headingFrame = 4410, .endFrame = 40000},
                            {.title = "Zwei", .startFrame = 44100, .headingFrame = 48510}});
        writer.close();
    }
    ::close(fd);
    const test::Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, mutagen.mp4\n"
         "m = mutagen.mp4.MP4(sys.argv[1])\n"
         "c = m.tags['covr'][0]\n"
         "print(c.imageformat == mutagen.mp4.MP4Cover.FORMAT_PNG, bytes(c) == "
         "b'\\x89PNG\\r\\n\\x1a\\npicture bytes')\n"
         "print([(round(x.start, 2), x.title) for x in m.chapters], m.tags['\\xa9nam'])",
         path.string()},
        scratch.path());
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput, "True True\n[(0.0, 'Eins'), (2.0, 'Zwei')] ['Ton']\n");
}

// The chapter track holds every chapter, the Nero list the first 255 (its count is a byte);
// a title past what either holds is cut at a character boundary to 255 bytes, as both read it.
TEST(Mp4AudioWriter, CutsLongTitlesBetweenCharactersAndListsEveryChapterInItsTrack) {
    ScratchDir scratch;
    const auto path = scratch / "many.m4b";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    std::vector<ChapterTiming> chapters;
    for (std::uint64_t i = 0; i < 300; ++i)
        chapters.push_back({.title = "C" + std::to_string(i + 1), .startFrame = i * 200});
    chapters[0].title = "A";
    for (int i = 0; i < 35'000; ++i)
        chapters[0].title += "\u00e9";
    {
        Mp4AudioWriter writer(fd, AudioFormat{}, path, {}, 64);
        writeTone(writer);
        writer.setChapters(chapters);
        writer.close();
    }
    ::close(fd);
    const test::Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import json, subprocess, mutagen.mp4\n"
         "p = json.loads(subprocess.run(['ffprobe', '-v', 'error', '-of', 'json',\n"
         "    '-show_chapters', 'many.m4b'], capture_output=True, check=True).stdout)\n"
         "track = [c['tags']['title'] for c in p['chapters']]\n"
         "nero = [c.title for c in mutagen.mp4.MP4('many.m4b').chapters]\n"
         "print(len(track), len(nero), track[:255] == nero, track[0] == 'A' + '\\xe9' * 127,\n"
         "      track[1:] == ['C%d' % i for i in range(2, 301)])"},
        scratch.path());
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput, "300 255 True True True\n");
}

// A pipe cannot be read back; a bit rate past AAC's most is refused, not lowered unsaid.
TEST(Mp4AudioWriter, RefusesWhatItCannotWrite) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_THROW(Mp4AudioWriter(ends[1], AudioFormat{}, "piped.m4b", {}, 64), FileError);
    ::close(ends[0]);
    ::close(ends[1]);
    ScratchDir scratch;
    const auto path = scratch / "x.m4b";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    try {
        Mp4AudioWriter(fd, AudioFormat{8000, 16, 1}, path, {}, 64);
        ADD_FAILURE() << "64 kb/s at 8 kHz taken";
    } catch (const FileError& failure) {
        EXPECT_NE(std::string(failure.what()).find("at most 48 kb/s"), std::string::npos)
            << failure.what();
    }
    ::close(fd);
}

// A stop asked while the file is being made ends it at its next write.
TEST(Mp4AudioWriter, StopsAtItsNextWriteOnceCancelled) {
    ScratchDir scratch;
    const auto path = scratch / "x.m4b";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    std::atomic<bool> cancel{false};
    Mp4AudioWriter writer(fd, AudioFormat{}, path, {}, 64, &cancel);
    writeTone(writer);
    cancel = true;
    EXPECT_THROW(writer.close(), ConversionCancelled);
    ::close(fd);
}

// The samples reach the encoding threads in order whatever pieces they come in, and the
// stretches end at the same samples: a sample lost, doubled or swapped at a handover, or a
// stretch cut elsewhere, changes the bytes.
TEST(Mp4AudioWriter, GivesTheSameBytesForAnyPiecesOfTheSameSound) {
    ScratchDir scratch;
    const std::vector<std::int16_t> samples = toneBursts();
    std::vector<std::string> files;
    for (const std::size_t piece : {samples.size(), std::size_t{1}, std::size_t{777}}) {
        const auto path = scratch / ("piece" + std::to_string(piece) + ".m4b");
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        {
            Mp4AudioWriter writer(fd, AudioFormat{}, path, {}, 64);
            for (std::size_t at = 0; at < samples.size(); at += piece)
                writer.write(std::span(samples).subspan(at, std::min(piece, samples.size() - at)));
            writer.close();
        }
        ::close(fd);
        files.push_back(test::readBytes(path));
    }
    EXPECT_GT(files[0].size(), 400'000u);
    EXPECT_EQ(files[1], files[0]);
    EXPECT_EQ(files[2], files[0]);
}

// Several stretches: toneBursts(). FFmpeg's command line encodes
// the same samples with the same settings in one piece; ffprobe, the decoded sound and its
// silence at each join must be those of the one piece, the quality within 0.2 dB of it.
constexpr const char* compareWithOnePiece = R"(
import array, json, math, subprocess, sys, wave
def probe(path):
    p = json.loads(subprocess.run(['ffprobe', '-v', 'error', '-of', 'json', '-count_packets',
        '-show_streams', path], capture_output=True, check=True).stdout)['streams'][0]
    return int(p['nb_read_packets']), int(p['duration_ts'])
def decoded(path):
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-i', path, path + '.wav'], check=True)
    w = wave.open(path + '.wav')
    return array.array('h', w.readframes(w.getnframes()))
subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 's16le', '-ar', '22050', '-ac', '1', '-i',
    'in.raw', '-c:a', 'aac', '-b:a', '64k', '-aac_coder', 'fast', '-aac_pns', '0', '-aac_tns',
    '0', '-aac_is', '0', '-flags', '+bitexact', 'one.m4a'], check=True)
x = array.array('h', open('in.raw', 'rb').read())
cuts, start, silent = [], 0, False
for k in range(len(x) // 1024):
    now = not any(x[k * 1024:(k + 1) * 1024])
    if now and silent and (k * 1024 - start) >= math.ceil(20 * 22050 / 1024) * 1024:
        cuts.append(k * 1024); start = k * 1024
    silent = now
def dbfs(d, at): return 10 * math.log10(sum(v * v for v in d[at - 1024:at + 1024]) / 2048 / 32768 ** 2 + 1e-20)
def snr(d): return 10 * math.log10(sum(v * v for v in x) / sum((a - b) ** 2 for a, b in zip(x, d)))
got, one = decoded('stretched.m4b'), decoded('one.m4a')
print(len(cuts), probe('stretched.m4b') == probe('one.m4a'), len(got) == len(x) == len(one))
print(max(dbfs(got, c) for c in cuts) < min(-80, max(dbfs(one, c) for c in cuts) + 1),
      abs(snr(got) - snr(one)) < 0.2)
)";

TEST(Mp4AudioWriter, JoinsItsStretchesIntoOneTrackAsOneEncoderWould) {
    ScratchDir scratch;
    const std::vector<std::int16_t> samples = toneBursts();
    test::writeBytes(scratch / "in.raw",
                     std::string_view(reinterpret_cast<const char*>(samples.data()),
                                      samples.size() * sizeof samples[0]));
    const auto path = scratch / "stretched.m4b";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
        Mp4AudioWriter writer(fd, AudioFormat{}, path, {}, 64);
        writer.write(samples);
        writer.close();
    }
    ::close(fd);
    const test::Outcome read =
        test::runProgram("/usr/bin/python3", {"-c", compareWithOnePiece}, scratch.path());
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput, "3 True True\nTrue True\n");
}

std::size_t threadsRunning() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                      std::filesystem::directory_iterator()));
}

// A writer that goes away before its close, every encoding thread busy, stops them all and
// waits for them: none is left running, and none hangs.
TEST(Mp4AudioWriter, StopsEveryEncodingThreadWhenItGoesAwayUnclosed) {
    ScratchDir scratch;
    const auto path = scratch / "unclosed.m4b";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::size_t before = threadsRunning();
    {
        Mp4AudioWriter writer(fd, AudioFormat{}, path, {}, 64);
        writer.write(toneBursts());
        EXPECT_GT(threadsRunning(), before);
    }
    EXPECT_EQ(threadsRunning(), before);
    ::close(fd);
}

// A write that fails on the encoding thread reaches the caller naming the file, even one
// waiting for room in the queue; the writer then goes away without hanging.
TEST(Mp4AudioWriter, ReportsAFailureOfItsEncodingThread) {
    ScratchDir scratch;
    const auto path = scratch / "read-only.m4b";
    test::writeBytes(path, "");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::vector<std::int16_t> noise = [] {
        std::vector<std::int16_t> samples(22050);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>((i * 7919) % 30000 - 15000);
        return samples;
    }();
    try {
        Mp4AudioWriter writer(fd, AudioFormat{}, path, {}, 64);
        for (int second = 0; second < 600; ++second)
            writer.write(noise);
        writer.close();
        ADD_FAILURE() << "a write into a read-only descriptor succeeded";
    } catch (const FileError& failure) {
        const std::string message = failure.what();
        EXPECT_NE(message.find("read-only.m4b"), std::string::npos) << message;
        EXPECT_NE(message.find(std::strerror(EBADF)), std::string::npos) << message;
    }
    ::close(fd);
}

} // namespace
} // namespace kestrova::speech
