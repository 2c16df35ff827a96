// Chapters, Unicode tags and the cover inside the sound file, read back by other programs:
// ffprobe, mutagen, exiftool, mediainfo, and each container's own checker; covers, tags and
// chapters past what a container holds, left out or cut with one warning.

#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

const std::string unicodeTag = "Ünïcødé — 日本語";

// A 2 by 2 PNG picture.
const char pngBytes[] = "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00"
                        "\x00\x02\x00\x00\x00\x02\x08\x02\x00\x00\x00\xFD\xD4\x9A\x73\x00\x00\x00"
                        "\x10\x49\x44\x41\x54\x78\x9C\x63\xF8\xCF\xC0\x00\x44\x0C\x10\x0A\x00\x1F"
                        "\xEE\x03\xFD\x8B\x5F\x14\xD4\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60"
                        "\x82";
const std::string coverPng(pngBytes, sizeof pngBytes - 1);

const std::string chapteredBook =
    "Chapter One\n\nThe first chapter has a sentence. And another one.\n\n"
    "Chapter Two\n\nThe second chapter speaks too.\n\n"
    "Chapter Three: Ünïcødé\n\nThe end is here.\n";

class EmbeddedTags : public ::testing::Test {
protected:
    EmbeddedTags() {
        test::writeBytes(scratch / "book.txt", chapteredBook);
        test::writeBytes(scratch / "cover.png", coverPng);
    }

    Outcome convert(const std::string& output, const std::string& jobs,
                    std::vector<std::string> more = {}) const {
        std::vector<std::string> arguments = {"convert",   "-q",       "-e",         "slt",
                                              "-j",        jobs,       "--chapters", "--title",
                                              unicodeTag,  "--artist", unicodeTag,   "--cover",
                                              "cover.png", "-o",       output};
        arguments.insert(arguments.end(), more.begin(), more.end());
        arguments.push_back("book.txt");
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }

    Outcome run(const std::string& program, const std::vector<std::string>& arguments) const {
        return test::runProgram(program, arguments, scratch.path());
    }

    ScratchDir scratch;
};

struct ContainerCase {
    std::string name;
    std::string ending;
    std::vector<std::string> checker; // program and arguments; the file is added
};

void PrintTo(const ContainerCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ChaptersInside : public EmbeddedTags, public ::testing::WithParamInterface<ContainerCase> {};

// ffprobe finds the timings' chapters with their titles, and the cover; the container's own
// checker finds nothing wrong; any number of jobs gives the same bytes.
TEST_P(ChaptersInside, ReadersAgreeWithTheTimings) {
    const std::string file = "book" + GetParam().ending;
    const Outcome made = convert(file, "3", {"--timings", "book.json"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;

    const Outcome timed =
        run("/usr/bin/python3", {"-c", "import json\n"
                                       "for c in json.load(open('book.json', encoding='utf-8'))"
                                       "['chapters']:\n"
                                       "  print('%.3f %s' % (c['start_seconds'], c['title']))"});
    const Outcome probed = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                    "chapter=start_time:chapter_tags=title", "-of",
                                                    "csv=p=0:s=|", file});
    ASSERT_EQ(probed.exitStatus(), 0) << probed.standardError;
    std::istringstream lines(probed.standardOutput);
    std::string fromFile;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t bar = line.find('|');
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", std::stod(line.substr(0, bar)));
        fromFile += std::string(seconds) + " " + line.substr(bar + 1) + "\n";
    }
    // The timings' chapters, by Python's JSON reader, start where ffprobe finds them.
    ASSERT_EQ(timed.exitStatus(), 0) << timed.standardError;
    EXPECT_EQ(fromFile, timed.standardOutput);
    EXPECT_EQ(test::lineCount(fromFile), 3u);

    const Outcome streams = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                     "stream=codec_name", "-of", "csv=p=0", file});
    EXPECT_NE(streams.standardOutput.find("png"), std::string::npos) << streams.standardOutput;

    std::vector<std::string> checker = GetParam().checker;
    const std::string program = checker.front();
    checker.erase(checker.begin());
    checker.push_back(file);
    const Outcome checked = run(program, checker);
    EXPECT_EQ(checked.exitStatus(), 0) << checked.standardOutput << checked.standardError;
    const std::string report = checked.standardOutput + checked.standardError;
    for (const char* problem : {"WARN", "Warn", "ERROR", "Error", "PROBLEM"})
        EXPECT_EQ(report.find(problem), std::string::npos) << report;

    ASSERT_EQ(convert("again" + GetParam().ending, "1").exitStatus(), 0);
    EXPECT_EQ(test::readBytes(scratch / file),
              test::readBytes(scratch / ("again" + file.substr(4))));
}

INSTANTIATE_TEST_SUITE_P(Containers, ChaptersInside,
                         ::testing::Values(ContainerCase{"Mp3", ".mp3", {"/usr/bin/mp3val"}},
                                           ContainerCase{"OggVorbis", ".ogg", {"/usr/bin/ogginfo"}},
                                           ContainerCase{"Opus", ".opus", {"/usr/bin/opusinfo"}},
                                           ContainerCase{
                                               "Flac", ".flac", {"/usr/bin/flac", "-t", "-s"}}),
                         [](const auto& info) { return info.param.name; });

// mutagen reads the CHAP frames, the top-level ordered CTOC listing them, and the cover.
TEST_F(EmbeddedTags, Mp3ChapterFramesAndCoverReadByMutagen) {
    ASSERT_EQ(convert("book.mp3", "2").exitStatus(), 0);
    const Outcome read = run(
        "/usr/bin/python3",
        {"-c", "import mutagen.id3 as id3\n"
               "t = id3.ID3('book.mp3')\n"
               "print(t.version)\n"
               "for c in t.getall('CHAP'):\n"
               "  print(c.element_id, c.start_time < c.end_time, c.sub_frames['TIT2'].text[0])\n"
               "toc = t.getall('CTOC')[0]\n"
               "print(toc.child_element_ids, int(toc.flags))\n"
               "p = t.getall('APIC')[0]\n"
               "print(p.mime, int(p.type), p.data == open('cover.png', 'rb').read())\n"
               "print(t['TIT2'].text[0], int(t['TIT2'].encoding))"});
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput, "(2, 4, 0)\n"
                                   "chp1 True Chapter One\n"
                                   "chp2 True Chapter Two\n"
                                   "chp3 True Chapter Three: Ünïcødé\n"
                                   "['chp1', 'chp2', 'chp3'] 3\n"
                                   "image/png 3 True\n" +
                                       unicodeTag + " 3\n");
}

class UnicodeTags : public EmbeddedTags, public ::testing::WithParamInterface<std::string> {};

// exiftool and mediainfo show the words ffprobe shows; a wave file keeps its INFO list and
// its cue points beside the id3 chunk, and stays a valid wave file for sox.
TEST_P(UnicodeTags, ReadTheSameEverywhere) {
    const std::string file = "book" + GetParam();
    ASSERT_EQ(convert(file, "4").exitStatus(), 0);
    const Outcome exif =
        run("/usr/bin/exiftool", {"-s3", "-ID3v2_4:Title", "-ID3v2_4:Artist", file});
    EXPECT_EQ(exif.standardOutput, unicodeTag + "\n" + unicodeTag + "\n") << exif.standardError;
    const Outcome media =
        run("/usr/bin/mediainfo", {"--Output=General;%Track%|%Performer%|%Cover_Mime%", file});
    EXPECT_EQ(media.standardOutput, unicodeTag + "|" + unicodeTag + "|image/png\n");
    const Outcome probed = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                    "format_tags=title", "-of", "csv=p=0", file});
    EXPECT_EQ(probed.standardOutput, unicodeTag + "\n");
    if (GetParam() != ".wav")
        return;
    EXPECT_EQ(run("/usr/bin/soxi", {file}).exitStatus(), 0);
    EXPECT_EQ(test::readCuePoints(scratch / file).size(), 3u);
    const std::string bytes = test::readBytes(scratch / file);
    EXPECT_NE(bytes.find("INFOINAM"), std::string::npos);
    EXPECT_NE(bytes.find("id3 "), std::string::npos);
    ASSERT_EQ(convert("again.wav", "1").exitStatus(), 0);
    EXPECT_EQ(bytes, test::readBytes(scratch / "again.wav"));
}

INSTANTIATE_TEST_SUITE_P(Containers, UnicodeTags, test::sweep(".wav", ".mp3"),
                         [](const auto& info) { return info.param.substr(1); });

// Each chapter's own file holds that one chapter, from its start to its end.
TEST_F(EmbeddedTags, SplitFilesHoldTheirOneChapter) {
    ASSERT_EQ(convert("book.opus", "2", {"--split-chapters"}).exitStatus(), 0);
    const Outcome probed = run("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                                    "chapter=start_time:chapter_tags=title", "-of",
                                                    "csv=p=0:s=|", "book-02-Chapter_Two.opus"});
    EXPECT_EQ(probed.standardOutput, "0.000000|Chapter Two\n") << probed.standardError;
}

// An EPUB 3 book of one page whose cover is a PNG signature followed by zeros, as many bytes
// in all as asked (argv: the book, the cover's size).
constexpr const char* bookWithCover = R"(
import sys, zipfile
book, size = sys.argv[1], int(sys.argv[2])
page = ('<?xml version="1.0" encoding="UTF-8"?><html xmlns="http://www.w3.org/1999/xhtml" '
        'xmlns:epub="http://www.idpf.org/2007/ops"><head><title>c</title></head><body>%s</body></html>')
with zipfile.ZipFile(book, 'w') as z:
    z.writestr('mimetype', 'application/epub+zip')
    z.writestr('META-INF/container.xml', '<?xml version="1.0"?><container version="1.0" '
        'xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles><rootfile '
        'full-path="content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>')
    z.writestr('content.opf', '<?xml version="1.0" encoding="UTF-8"?><package '
        'xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id"><metadata '
        'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:identifier id="id">x</dc:identifier>'
        '<dc:title>Covered</dc:title><dc:language>en</dc:language></metadata><manifest>'
        '<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>'
        '<item id="c" href="c.xhtml" media-type="application/xhtml+xml"/><item id="cover" '
        'href="cover.png" media-type="image/png" properties="cover-image"/></manifest>'
        '<spine><itemref idref="c"/></spine></package>')
    z.writestr('nav.xhtml', page % '<nav epub:type="toc"><ol><li><a href="c.xhtml">One</a>'
        '</li></ol></nav>')
    z.writestr('c.xhtml', page % '<h1>One</h1><p>Hello there.</p>')
    z.writestr('cover.png', b'\x89PNG\r\n\x1a\n' + bytes(size - 8))
)";

// The size of the picture each file's cover holds, as mutagen reads it; 0: none.
constexpr const char* coverSize = R"(
import base64, sys, mutagen
from mutagen.flac import Picture
tags = mutagen.File(sys.argv[1])
pictures = getattr(tags, 'pictures', []) or [Picture(base64.b64decode(p)) for p in
    tags.get('metadata_block_picture', [])]
print(len(pictures[0].data) if pictures else 0)
)";

// A FLAC picture block counts its bytes in 24 bits, its own fields and "image/png" with them:
// a cover one byte past that is left out of a FLAC file with one warning (where it wrapped the
// length, and flac -t lost sync); at the limit, and in an Ogg file, it is kept whole.
TEST_F(EmbeddedTags, CoverPastAContainersLimitIsLeftOutWithOneWarning) {
    constexpr std::size_t flacLargest = (1u << 24) - 1 - 32 - 9;
    for (const std::size_t size : {flacLargest, flacLargest + 1}) {
        const std::string book = "cover" + std::to_string(size) + ".epub";
        ASSERT_EQ(
            run("/usr/bin/python3", {"-c", bookWithCover, book, std::to_string(size)}).exitStatus(),
            0);
        for (const std::string ending : {".flac", ".ogg"}) {
            const std::string file = "cover" + std::to_string(size) + ending;
            const Outcome made =
                run(KESTROVA_CLI_PATH, {"convert", "-q", "-e", "slt", "-o", file, book});
            ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
            const bool leftOut = ending == ".flac" && size > flacLargest;
            EXPECT_EQ(made.standardError,
                      leftOut ? "kestrova-wav-cli: warning: \"" + file +
                                    "\": a FLAC file holds a cover of at most 16777174 bytes: "
                                    "the cover of 16777175 bytes is left out\n"
                              : "");
            const Outcome checked = ending == ".flac" ? run("/usr/bin/flac", {"-t", "-s", file})
                                                      : run("/usr/bin/ogginfo", {file});
            EXPECT_EQ(checked.exitStatus(), 0) << checked.standardOutput << checked.standardError;
            const Outcome held = run("/usr/bin/python3", {"-c", coverSize, file});
            EXPECT_EQ(held.standardOutput, (leftOut ? "0" : std::to_string(size)) + "\n")
                << held.standardError;
        }
    }
}

// A Markdown book whose title is 16 MiB of two-byte characters and a few bytes more.
constexpr std::size_t hugeTitleCharacters = (8u << 20) + 100;

// The title a file holds, as mutagen reads it (one tag of the names given): its length in
// bytes, and whether it is the start of the book's title, cut between two characters.
constexpr const char* titleRead = R"(
import sys, mutagen
tags = mutagen.File(sys.argv[1]).tags
title = next(str(tags[k][0] if isinstance(tags[k], list) else tags[k]) for k in sys.argv[3:]
             if k in tags)
print(len(title.encode()), title == '\u00e9' * (len(title)) and len(title) <= int(sys.argv[2]))
)";

// A title longer than a container holds is cut at a character boundary to its share, with one
// warning: FLAC's one comment block of 16 MiB (its whole title failed the encoder), the wave
// file's INFO list and the Opus header libsndfile builds in 100 KiB (it left the title out
// unsaid); MP3 and M4B hold it whole, silently. Each container's checker finds the file sound.
struct HugeTitleCase {
    std::string name;
    std::string ending;
    std::size_t keptBytes;
    std::vector<std::string> checker;
    std::string key; // the title's key, as mutagen names it
};

// One container a test: each conversion of the 16 MiB title takes seconds, more under the
// sanitizers.
class HugeTitle : public EmbeddedTags, public ::testing::WithParamInterface<HugeTitleCase> {};

TEST_P(HugeTitle, PastAContainersLimitIsCutWithOneWarning) {
    std::string markdown = "---\ntitle: ";
    for (std::size_t i = 0; i < hugeTitleCharacters; ++i)
        markdown += "\u00e9";
    markdown += "\n---\n\nHello there.\n";
    test::writeBytes(scratch / "long.md", markdown);
    const HugeTitleCase& entry = GetParam();
    const std::string file = "long" + entry.ending;
    const Outcome made =
        run(KESTROVA_CLI_PATH, {"convert", "-q", "-e", "slt", "-o", file, "long.md"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    const bool cut = entry.keptBytes < 2 * hugeTitleCharacters;
    EXPECT_EQ(test::lineCount(made.standardError), cut ? 1u : 0u) << made.standardError;
    EXPECT_EQ(made.standardError.find("the title of 16777416 bytes is cut") != std::string::npos,
              cut)
        << made.standardError;
    std::vector<std::string> checker = entry.checker;
    checker.push_back(file);
    const Outcome checked = run(checker.front(), {checker.begin() + 1, checker.end()});
    EXPECT_EQ(checked.exitStatus(), 0) << checked.standardOutput << checked.standardError;
    const Outcome read = run("/usr/bin/python3", {"-c", titleRead, file,
                                                  std::to_string(hugeTitleCharacters), entry.key});
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    const std::size_t bytes = std::stoul(read.standardOutput);
    EXPECT_GE(bytes, entry.keptBytes);
    EXPECT_LE(bytes, cut ? entry.keptBytes + 40 : entry.keptBytes);
    EXPECT_EQ(read.standardOutput.substr(read.standardOutput.find(' ')), " True\n");
    // The wave file's INFO list holds the title its id3 chunk holds.
    if (entry.ending == ".wav") {
        EXPECT_NE(test::readBytes(scratch / file).find("INFOINAM"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, HugeTitle,
    test::sweep(
        HugeTitleCase{"Flac", ".flac", (8u << 20) - 40, {"/usr/bin/flac", "-t", "-s"}, "title"},
        HugeTitleCase{"Opus", ".opus", (48u << 10) - 40, {"/usr/bin/opusinfo"}, "title"},
        HugeTitleCase{"Wav", ".wav", (48u << 10) - 40, {"/usr/bin/soxi"}, "TIT2"},
        HugeTitleCase{"Mp3", ".mp3", 2 * hugeTitleCharacters, {"/usr/bin/mp3val"}, "TIT2"},
        HugeTitleCase{"M4b",
                      ".m4b",
                      2 * hugeTitleCharacters,
                      {"/usr/bin/ffprobe", "-v", "error"},
                      "\u00a9nam"}),
    [](const auto& info) { return info.param.name; });

// FLAC keeps its tags and every chapter in one comment block of 16 MiB: a chapter title past
// 8 KiB is cut there at a character boundary, with one warning (the long word is a picture's
// alternative text: in the title, not spoken).
TEST_F(EmbeddedTags, FlacChapterTitlePastItsShareIsCutWithOneWarning) {
    std::string word;
    for (int i = 0; i < 5'000; ++i)
        word += "\u00e9";
    test::writeBytes(scratch / "long.md", "# Go ![" + word + "](a.png)\n\nGo.\n\n# Short\n\nGo.\n");
    const Outcome made = run(KESTROVA_CLI_PATH, {"convert", "-q", "-e", "slt", "--chapter-pause",
                                                 "0", "-o", "long.flac", "long.md"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    EXPECT_EQ(made.standardError, "kestrova-wav-cli: warning: \"long.flac\": a FLAC file holds "
                                  "chapter titles of at most 8192 bytes: one title is cut\n");
    EXPECT_EQ(run("/usr/bin/flac", {"-t", "-s", "long.flac"}).exitStatus(), 0);
    const Outcome probed =
        run("/usr/bin/ffprobe",
            {"-v", "error", "-show_entries", "chapter_tags=title", "-of", "csv=p=0", "long.flac"});
    EXPECT_EQ(probed.standardOutput, "Go " + word.substr(0, 8188) + "\nShort\n")
        << probed.standardError;
}

} // namespace
} // namespace kestrova::cli
