// M4B audiobooks from the sample book through the real kestrova-wav-cli, read back by readers
// of their own: ffprobe (streams, chapters, tags), mutagen (tags, the Nero chapter list) and
// the file's top-level atoms (the index before the sound).

#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

Outcome convertForewordBook(const ScratchDir& scratch, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"convert", "-q", "-e", "eSpeak NG English (America)"});
    arguments.push_back("book.txt");
    return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
}

// A foreword and three chapters, some twenty seconds of speech.
void copyBook(const ScratchDir& scratch) {
    test::writeBytes(scratch / "book.txt",
                     "A word before the story.\n\n"
                     "Chapter 1: The Road\n\nThe road ran north through the hills. It was "
                     "long, and the travellers were tired.\n\n"
                     "Chapter 2: Ünïcødé — 日本語\n\nThey reached the river at dusk.\n\n"
                     "Chapter 3: Home\n\nAt last they saw the lights of home, and they "
                     "were glad.\n");
}

// Prints one line for each disagreement between the readers, the timings and what was asked
// (argv: the file, the timings, the bit rate asked in kb/s, the major brand); nothing when
// all agree.
constexpr const char* readBack = R"(
import json, struct, subprocess, sys
import mutagen.mp4
path, timings, kbps, brand = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
probe = json.loads(subprocess.run(['ffprobe', '-v', 'error', '-of', 'json', '-show_streams',
    '-show_chapters', '-show_format', path], capture_output=True, check=True).stdout)
t = json.load(open(timings, encoding='utf-8'))
rate = t['sample_rate'] if 'sample_rate' in t else 22050
audio = [s for s in probe['streams'] if s['codec_type'] == 'audio']
def say(*words): print(*words)
if len(audio) != 1: say('audio streams', len(audio))
a = audio[0]
for key, want in (('codec_name', 'aac'), ('profile', 'LC'), ('channels', 1)):
    if a.get(key) != want: say(key, a.get(key))
if kbps and abs(int(a['bit_rate']) - kbps * 1000) > kbps * 250: say('bit rate', a['bit_rate'])
tags = probe['format']['tags']
want_tags = {'title': 'Ünïcødé — 日本語', 'artist': 'A. Writer', 'album': 'The Book',
             'date': '2024', 'genre': 'Audiobook', 'comment': 'read aloud', 'track': '3/12',
             'major_brand': brand}
for key, want in want_tags.items():
    if tags.get(key, '').strip() != want.strip(): say('tag', key, tags.get(key))
chapters = probe['chapters']
if len(chapters) != len(t['chapters']): say('chapters', len(chapters), len(t['chapters']))
rate = int(a['sample_rate'])
for got, want in zip(chapters, t['chapters']):
    if abs(float(got['start_time']) - want['start_seconds']) * rate > 1024:
        say('chapter start', got['start_time'], want['start_seconds'])
    if got.get('tags', {}).get('title', '') != want['title']:
        say('chapter title', got.get('tags'), want['title'])
m = mutagen.mp4.MP4(path)
if m.tags.get('\xa9nam') != [want_tags['title']]: say('mutagen title', m.tags.get('\xa9nam'))
if m.tags.get('trkn') != [(3, 12)]: say('mutagen track', m.tags.get('trkn'))
nero = [(c.start, c.title) for c in m.chapters]
if [n[1] for n in nero] != [c['title'] for c in t['chapters']]: say('nero titles', nero)
for (start, _), want in zip(nero, t['chapters']):
    if abs(start - want['start_seconds']) * rate > 1024: say('nero start', start)
data = open(path, 'rb').read()
atoms, at = [], 0
while at + 8 <= len(data):
    size, kind = struct.unpack('>I4s', data[at:at + 8])
    atoms.append(kind.decode())
    if size == 1: size = struct.unpack('>Q', data[at + 8:at + 16])[0]
    if size < 8: break
    at += size
if at != len(data) or 'moov' not in atoms or 'mdat' not in atoms or \
   atoms.index('moov') > atoms.index('mdat'): say('atoms', atoms, at, len(data))
)";

std::string disagreements(const ScratchDir& scratch, const std::string& file, int kbps,
                          const std::string& brand) {
    const Outcome read = test::runProgram(
        "/usr/bin/python3", {"-c", readBack, file, "book.json", std::to_string(kbps), brand},
        scratch.path());
    EXPECT_EQ(read.exitStatus(), 0) << read.standardError;
    return read.standardOutput;
}

const std::vector<std::string> tagOptions = {
    "--title", "Ünïcødé — 日本語", "--artist",  "A. Writer", "--album",    "The Book", "--date",
    "2024",    "--genre",          "Audiobook", "--comment", "read aloud", "--track",  "3/12"};

std::vector<std::string> with(std::vector<std::string> first,
                              const std::vector<std::string>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// The book with its chapters under both endings: ffprobe and mutagen read the chapters of the
// timings (within one AAC frame), the tags, AAC-LC mono near the default 64 kb/s, the
// audiobook brand for .m4b; the index stands before the sound. FFmpeg's encoder spends bits
// by the sound's needs around the rate asked: a higher rate asked gives a larger file.
TEST(M4b, ReadersAgreeWithTheTimingsAndTheTags) {
    ScratchDir scratch;
    copyBook(scratch);
    const Outcome book = convertForewordBook(
        scratch, with({"--chapters", "--timings", "book.json", "-o", "book.m4b"}, tagOptions));
    ASSERT_EQ(book.exitStatus(), 0) << book.standardError;
    EXPECT_EQ(disagreements(scratch, "book.m4b", 64, "M4B "), "");
    const Outcome other = convertForewordBook(
        scratch, with({"--chapters", "--timings", "book.json", "--bitrate", "32", "-o", "book.m4a"},
                      tagOptions));
    ASSERT_EQ(other.exitStatus(), 0) << other.standardError;
    EXPECT_EQ(disagreements(scratch, "book.m4a", 0, "M4A "), "");
    EXPECT_LT(fs::file_size(scratch / "book.m4a"), fs::file_size(scratch / "book.m4b"));
}

// The same bytes run to run and for any number of jobs: the book four times over, long
// enough to be encoded in several stretches side by side.
TEST(M4b, IsTheSameBytesEveryRunAndForAnyJobs) {
    ScratchDir scratch;
    copyBook(scratch);
    const std::string book = test::readBytes(scratch / "book.txt");
    test::writeBytes(scratch / "book.txt", book + book + book + book);
    for (const char* jobs : {"1", "2", "2"}) {
        const Outcome run = convertForewordBook(
            scratch,
            with({"--chapters", "-j", jobs, "-o", std::string("j") + jobs + ".m4b"}, tagOptions));
        ASSERT_EQ(run.exitStatus(), 0) << run.standardError;
        EXPECT_EQ(test::readBytes(scratch / (std::string("j") + jobs + ".m4b")),
                  test::readBytes(scratch / "j1.m4b"));
    }
}

// One M4B per chapter, each holding its one chapter, titled by its heading, from its start.
TEST(M4b, SplitChaptersHoldTheirOneChapterEach) {
    ScratchDir scratch;
    copyBook(scratch);
    const Outcome split = convertForewordBook(scratch, {"--split-chapters", "-o", "book.m4b"});
    ASSERT_EQ(split.exitStatus(), 0) << split.standardError;
    const Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import glob, json, subprocess\n"
         "for f in sorted(glob.glob('book-*.m4b')):\n"
         "  p = json.loads(subprocess.run(['ffprobe', '-v', 'error', '-of', 'json',\n"
         "      '-show_chapters', '-show_format', f], capture_output=True).stdout)\n"
         "  c = p['chapters']\n"
         "  print(f, len(c), float(c[0]['start_time']), c[0].get('tags', {}).get('title', ''),\n"
         "        p['format']['tags'].get('title', '') == c[0].get('tags', {}).get('title', ''))"},
        scratch.path());
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput.substr(0, read.standardOutput.find('\n')),
              "book-00.m4b 1 0.0  True");
    EXPECT_EQ(test::lineCount(read.standardOutput), 4u) << read.standardOutput;
    EXPECT_EQ(read.standardOutput.find(" False"), std::string::npos) << read.standardOutput;
}

// FFmpeg counts a chapter title's bytes in 16 bits in the chapter track (it wrapped past 65,535)
// and cuts it at 255 bytes in the Nero list, inside a character maybe (mutagen then refused the
// file): every title is cut at a character boundary under 255 bytes, with one warning, and
// ffprobe (the chapter track) and mutagen (the Nero list) read the same titles. The long words
// are pictures' alternative text: in the titles, not spoken.
TEST(M4b, LongChapterTitlesAreCutBetweenCharactersWithOneWarning) {
    ScratchDir scratch;
    std::string cutInside = "A";
    std::string pastSixteenBits;
    for (int i = 0; i < 200; ++i)
        cutInside += "\u00e9";
    for (int i = 0; i < 35'000; ++i)
        pastSixteenBits += "\u00e9";
    test::writeBytes(scratch / "long.md", "# Go ![" + cutInside + "](a.png)\n\nGo.\n\n# Go ![" +
                                              pastSixteenBits +
                                              "](b.png)\n\nGo.\n\n# Short\n\nGo.\n");
    const Outcome made = test::runProgram(
        KESTROVA_CLI_PATH,
        {"convert", "-q", "-e", "slt", "--chapter-pause", "0", "-o", "long.m4b", "long.md"},
        scratch.path());
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    EXPECT_EQ(made.standardError, "kestrova-wav-cli: warning: \"long.m4b\": an M4B file holds "
                                  "chapter titles of at most 255 bytes: 2 titles are cut\n");
    const Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c", "import json, subprocess, mutagen.mp4\n"
               "p = json.loads(subprocess.run(['ffprobe', '-v', 'error', '-of', 'json',\n"
               "    '-show_chapters', 'long.m4b'], capture_output=True, check=True).stdout)\n"
               "track = [c['tags']['title'] for c in p['chapters']]\n"
               "nero = [c.title for c in mutagen.mp4.MP4('long.m4b').chapters]\n"
               "print([len(t.encode()) for t in track], track == nero,\n"
               "      track[0] == 'Go A' + '\\xe9' * 125, track[1] == 'Go ' + '\\xe9' * 126,\n"
               "      track[2])"},
        scratch.path());
    ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
    EXPECT_EQ(read.standardOutput, "[254, 255, 5] True True True Short\n");
}

// --bitrate is refused where no encoder takes it, and a rate AAC cannot carry at the sound's
// rate before anything is written.
TEST(M4b, RefusesABitRateItCannotUse) {
    ScratchDir scratch;
    copyBook(scratch);
    const Outcome wave = convertForewordBook(scratch, {"--bitrate", "64", "-o", "book.wav"});
    EXPECT_EQ(wave.exitStatus(), 2);
    EXPECT_EQ(wave.standardError, "kestrova-wav-cli: --bitrate sets the bit rate of an M4B or "
                                  "MP3 file: not of a WAV file\n");
    const Outcome high = convertForewordBook(scratch, {"--bitrate", "256", "-o", "book.m4b"});
    EXPECT_EQ(high.exitStatus(), 1);
    EXPECT_EQ(high.standardError,
              "kestrova-wav-cli: cannot write the M4B file \"book.m4b\": AAC at 22050 Hz 16-bit "
              "mono takes at most 132 kb/s, not 256\n");
    EXPECT_FALSE(fs::exists(scratch / "book.m4b"));
}

// The encoder is a module the program loads when it writes an M4B file: a program without it
// still converts to every other type, and fails an M4B file before any sound, naming it.
TEST(M4b, AProgramWithoutItsEncoderModuleRefusesOnlyM4b) {
    ScratchDir scratch;
    copyBook(scratch);
    fs::create_directory(scratch / "bin");
    fs::copy_file(KESTROVA_CLI_PATH, scratch / "bin/kestrova-wav-cli");
    const std::string alone = (scratch / "bin/kestrova-wav-cli").string();
    const Outcome wave =
        test::runProgram(alone, {"convert", "-q", "-o", "book.wav", "book.txt"}, scratch.path());
    EXPECT_EQ(wave.exitStatus(), 0) << wave.standardError;
    const Outcome m4b =
        test::runProgram(alone, {"convert", "-q", "-o", "book.m4b", "book.txt"}, scratch.path());
    EXPECT_EQ(m4b.exitStatus(), 1);
    EXPECT_EQ(m4b.standardError,
              "kestrova-wav-cli: cannot write the M4B file \"book.m4b\": its encoder "
              "kestrova-mp4.so cannot be loaded: it is not installed beside the program\n");
    EXPECT_FALSE(fs::exists(scratch / "book.m4b"));
}

} // namespace
} // namespace kestrova::cli
