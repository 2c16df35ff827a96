// More chapters than a container's lists number, fitted and edited into real files, read back
// by ffprobe, mutagen and each container's own checker.

#include "speech/audio/containers/container_limits.h"
#include "speech/audio/sndfile/sound_file_writer.h"
#include "speech/audio/tags/embedded_tags.h"
#include "speech/speech_error.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

using test::Outcome;
using test::ScratchDir;

constexpr std::size_t chapterCount = 1200;
constexpr int rate = 24000; // a rate Opus has
constexpr std::uint64_t frames = 2 * rate;

// Two seconds of a tone, with chapterCount chapters C1, C2... fitted to the container and
// edited in as a conversion does; the warnings given, one a line.
void writeTone(const std::filesystem::path& path, Container container) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    SoundFileWriter writer(fd, container, AudioFormat{rate, 16, 1}, path, frames);
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>((i * 37) % 8000 - 4000);
    writer.write(samples);
    writer.close();
    ::close(fd);
}

std::string writeWithChapters(const std::filesystem::path& path, Container container) {
    writeTone(path, container);
    std::vector<ChapterTiming> chapters;
    for (std::size_t i = 0; i < chapterCount; ++i)
        chapters.push_back({.number = static_cast<unsigned>(i + 1),
                            .title = "C" + std::to_string(i + 1),
                            .startFrame = i * frames / chapterCount,
                            .endFrame = (i + 1) * frames / chapterCount});
    std::string warnings;
    fitChapters(container, chapters, path,
                [&warnings](const std::string& warning) { warnings += warning + "\n"; });
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    writeEmbeddedTags(fd, container, {}, chapters, rate, path, nullptr);
    ::close(fd);
    return warnings;
}

// The chapter titles ffprobe reads, one a line.
std::string probedTitles(const ScratchDir& scratch, const std::string& file) {
    const Outcome probed = test::runProgram(
        "/usr/bin/ffprobe",
        {"-v", "error", "-show_entries", "chapter_tags=title", "-of", "csv=p=0", file},
        scratch.path());
    EXPECT_EQ(probed.exitStatus(), 0) << probed.standardError;
    return probed.standardOutput;
}

std::string titlesUpTo(std::size_t last) {
    std::string titles;
    for (std::size_t i = 1; i <= last; ++i)
        titles += "C" + std::to_string(i) + "\n";
    return titles;
}

// A table of contents counts its entries in a byte (1,200 wrapped to 176): the top-level table
// lists ordered tables of 255 chapters each, and ffprobe and mutagen find every chapter.
TEST(ContainerLimits, Mp3ChaptersPastATablesCountAreListedInTablesOfTables) {
    ScratchDir scratch;
    EXPECT_EQ(writeWithChapters(scratch / "many.mp3", Container::Mp3), "");
    EXPECT_EQ(probedTitles(scratch, "many.mp3"), titlesUpTo(chapterCount));
    const Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c", "import mutagen.id3 as id3\n"
               "t = id3.ID3('many.mp3')\n"
               "tables = {c.element_id: c for c in t.getall('CTOC')}\n"
               "top = tables['toc']\n"
               "print(len(t.getall('CHAP')), int(top.flags), top.child_element_ids)\n"
               "listed = [e for c in top.child_element_ids for e in tables[c].child_element_ids]\n"
               "print(listed == ['chp%d' % i for i in range(1, 1201)],\n"
               "      [(len(tables[c].child_element_ids), int(tables[c].flags))\n"
               "       for c in top.child_element_ids])"},
        scratch.path());
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput, "1200 3 ['toc1', 'toc2', 'toc3', 'toc4', 'toc5']\n"
                                   "True [(255, 1), (255, 1), (255, 1), (255, 1), (180, 1)]\n");
    const Outcome checked = test::runProgram("/usr/bin/mp3val", {"many.mp3"}, scratch.path());
    EXPECT_EQ(checked.standardOutput.find("WARNING"), std::string::npos) << checked.standardOutput;
}

// ffmpeg reads Vorbis comment chapters up to CHAPTER999 (CHAPTER1000 renamed the hundredth):
// the first 999 are written, and one warning says which are left out.
TEST(ContainerLimits, VorbisCommentChaptersPast999AreLeftOutWithOneWarning) {
    ScratchDir scratch;
    const std::pair<Container, std::vector<std::string>> cases[] = {
        {Container::Flac, {"/usr/bin/flac", "-t", "-s", "many.flac"}},
        {Container::OggVorbis, {"/usr/bin/ogginfo", "many.ogg"}},
        {Container::OggOpus, {"/usr/bin/opusinfo", "many.opus"}}};
    for (const auto& [container, checker] : cases) {
        const std::string file = checker.back();
        SCOPED_TRACE(file);
        EXPECT_EQ(writeWithChapters(scratch / file, container),
                  "\"" + (scratch / file).string() +
                      "\": " + containerRow(container).namedInSentence +
                      " holds 999 chapters that players find: chapters 1000 to 1200 are left "
                      "out of it\n");
        EXPECT_EQ(probedTitles(scratch, file), titlesUpTo(999));
        const Outcome checked =
            test::runProgram(checker.front(), {checker.begin() + 1, checker.end()}, scratch.path());
        EXPECT_EQ(checked.exitStatus(), 0) << checked.standardOutput << checked.standardError;
    }
}

// An M4B file keeps every chapter in its chapter track: past the Nero list's 255, one warning
// says which chapters that list leaves out.
TEST(ContainerLimits, M4bKeepsEveryChapterAndSaysWhichItsNeroListLeavesOut) {
    std::vector<ChapterTiming> chapters(300);
    std::vector<std::string> warnings;
    fitChapters(Container::M4b, chapters, "many.m4b",
                [&warnings](const std::string& warning) { warnings.push_back(warning); });
    EXPECT_EQ(chapters.size(), 300u);
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "\"many.m4b\": an M4B file lists 255 chapters in its Nero chapter "
                            "list: chapters 256 to 300 are in its chapter track alone"}));
}

// A FLAC block that would still pass its 24 bits (a cover handed over unfitted) fails the file,
// naming it, before anything is edited: the file stays as it was, sound.
TEST(ContainerLimits, FlacBlockPastItsLengthFailsTheFileUntouched) {
    ScratchDir scratch;
    const auto path = scratch / "cover.flac";
    writeTone(path, Container::Flac);
    const std::string before = test::readBytes(path);
    SoundTags tags;
    tags.cover = CoverArt{.mediaType = "image/png",
                          .bytes = "\x89PNG\r\n\x1a\n" + std::string(flacBlockBytes, '\0')};
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    try {
        writeEmbeddedTags(fd, Container::Flac, tags, {}, rate, path, nullptr);
        ADD_FAILURE() << "a picture block past 24 bits written";
    } catch (const FileError& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "cannot write the FLAC file \"" + path.string() +
                      "\": its tags, chapters or cover take more than the 16 MiB a FLAC "
                      "metadata block holds");
    }
    ::close(fd);
    EXPECT_EQ(test::readBytes(path), before);
    EXPECT_EQ(
        test::runProgram("/usr/bin/flac", {"-t", "-s", "cover.flac"}, scratch.path()).exitStatus(),
        0);
}

} // namespace
} // namespace kestrova::speech
