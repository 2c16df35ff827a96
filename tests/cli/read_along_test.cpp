// Read-along books: an EPUB 3 written again with its narration, as EPUBCheck, Python's zip and
// XML readers and ffprobe see it; and what a read-along book cannot be made of.

#include "support/running_program.h"
#include "support/test_support.h"
#include "support/word_match.h"

#include <algorithm>
#include <deque>
#include <gtest/gtest.h>
#include <signal.h>

namespace kestrova::cli {
namespace read_along_test {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

// Chapters, inline markup inside sentences and an entity: the places the spans must respect.
constexpr std::string_view bookMarkdown =
    "---\ntitle: The Small Book\nauthor: Ann Writer\nlang: en\n---\n\n"
    "# One Beginning\n\n"
    "The first chapter starts *here*. It has two sentences, fish & chips.\n\n"
    "# Two Middle\n\n"
    "In the middle of **things**.\n\n"
    "Another paragraph.\n";

Outcome convert(const ScratchDir& scratch, std::vector<std::string> arguments,
                const test::ProgramSetup& setup = {}) {
    arguments.insert(arguments.begin(), "convert");
    return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path(), setup);
}

void writeBook(const ScratchDir& scratch, const std::string& to, const std::string& name) {
    test::writePandocBook(scratch.path(), bookMarkdown, to, name);
}

// The book at sys.argv[1] opened as a reader of it would: out, its package opf (at opfname),
// the manifest's items by id, and entry() for a reference from one entry to another.
constexpr const char* packageOpening = R"PY(
import os, posixpath, subprocess, sys, tempfile, urllib.parse, zipfile
import xml.etree.ElementTree as ET
OPF, SMIL = '{http://www.idpf.org/2007/opf}', '{http://www.w3.org/ns/SMIL}'
out = zipfile.ZipFile(sys.argv[1])
root = ET.fromstring(out.read('META-INF/container.xml'))
opfname = root.find('.//{urn:oasis:names:tc:opendocument:xmlns:container}rootfile').get('full-path')
opf = ET.fromstring(out.read(opfname))
def entry(frm, href):
    return posixpath.normpath(posixpath.join(posixpath.dirname(frm), urllib.parse.unquote(href)))
items = {item.get('id'): item for item in opf.find(OPF + 'manifest')}
)PY";

// What an independent reader finds wrong with the read-along book (sys.argv[1],
// narrated-NAME) made of NAME beside it (its text compared where NAME is there): one line
// each, then a count of the overlays and their pars.
const std::string readAlongProblems = packageOpening + std::string(R"PY(
source = sys.argv[1].replace('narrated-', '')
inp = zipfile.ZipFile(source) if os.path.exists(source) else None
problems = []
first = out.infolist()[0]
if (first.filename, first.compress_type, out.read(first)) != ('mimetype', zipfile.ZIP_STORED, b'application/epub+zip'):
    problems.append('mimetype is not first and stored')
metas = opf.find(OPF + 'metadata').findall(OPF + 'meta')
durations = {m.get('refines'): m.text for m in metas if m.get('property') == 'media:duration'}
def seconds(clock):
    h, m, s = clock.split(':')
    return int(h) * 3600 + int(m) * 60 + float(s)
def probed(data):
    with tempfile.NamedTemporaryFile(suffix='.mp3') as f:
        f.write(data); f.flush()
        return float(subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'format=duration',
                                     '-of', 'csv=p=0', f.name], capture_output=True, text=True).stdout)
overlaid = [item for item in items.values() if item.get('media-overlay')]
total, pars, narrated = 0, 0, set()
for item in overlaid:
    document = entry(opfname, item.get('href'))
    narrated.add(document)
    overlayId = item.get('media-overlay')
    smilName = entry(opfname, items[overlayId].get('href'))
    smil, page = ET.fromstring(out.read(smilName)), ET.fromstring(out.read(document))
    ids = [e.get('id') for e in page.iter() if e.get('id')]
    place, end, audio = -1, 0.0, None
    for par in smil.iter(SMIL + 'par'):
        pars += 1
        path, fragment = par.find(SMIL + 'text').get('src').split('#')
        clip = par.find(SMIL + 'audio')
        audio = entry(smilName, clip.get('src'))
        if entry(smilName, path) != document or fragment not in ids:
            problems.append('no element %s in %s' % (fragment, document)); continue
        if ids.index(fragment) <= place:
            problems.append('%s out of the document order' % fragment)
        place = ids.index(fragment)
        begin, finish = float(clip.get('clipBegin')[:-1]), float(clip.get('clipEnd')[:-1])
        if not end <= begin < finish:
            problems.append('clip %s-%s overlaps the one ending at %s' % (begin, finish, end))
        end = finish
    length = probed(out.read(audio))
    if end > length + 0.001:
        problems.append('a clip ends at %s, past the %s s of %s' % (end, length, audio))
    declared = seconds(durations['#' + overlayId])
    if abs(declared - length) > 0.1:
        problems.append('%s declared %s s long, ffprobe says %s' % (audio, declared, length))
    total += declared
    if inp and ''.join(page.itertext()) != ''.join(ET.fromstring(inp.read(document)).itertext()):
        problems.append('the text of %s changed' % document)
if abs(seconds(durations[None]) - total) > 0.0005:
    problems.append('total duration %s is not the sum %s' % (durations[None], total))
for info in inp.infolist() if inp else []:
    name = info.filename
    if name in narrated or name == opfname:
        continue
    if name.endswith('.xhtml'):  # an EPUB 2 page gets HTML5's declarations, its text kept
        if ''.join(ET.fromstring(out.read(name)).itertext()) != ''.join(ET.fromstring(inp.read(name)).itertext()):
            problems.append('the text of %s changed' % name)
    elif out.read(name) != inp.read(info):
        problems.append('%s changed' % name)
properties = sorted((m.get('property'), m.text) for m in metas if m.get('property', '').startswith('schema:'))
if properties != [('schema:accessMode', 'auditory'), ('schema:accessMode', 'textual'),
                  ('schema:accessibilityFeature', 'synchronizedAudioText')]:
    problems.append('accessibility metadata %s' % properties)
print('\n'.join(problems + ['overlays %d pars %d' % (len(overlaid), pars)]))
)PY");

// EPUBCheck's messages of a book: none when it finds nothing wrong.
std::string epubcheckFindings(const ScratchDir& scratch, const std::string& book) {
    const Outcome checked = test::runProgram(
        "/usr/bin/java",
        // A short run: the first compiler tier and the serial collector take half the time.
        {"-XX:TieredStopAtLevel=1", "-XX:+UseSerialGC", "-jar", "/usr/share/java/epubcheck.jar",
         book},
        scratch.path());
    std::string findings;
    std::istringstream lines(checked.standardOutput + checked.standardError);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("ERROR") || line.starts_with("WARNING") || line.starts_with("FATAL"))
            findings += line + "\n";
    if (checked.exitStatus() != 0 && findings.empty())
        findings = checked.standardOutput + checked.standardError;
    return findings;
}

// pandoc's EPUB 3 and EPUB 2 (made EPUB 3, its navigation from the NCX), narrated: EPUBCheck
// finds nothing; every span, clip and duration agrees with the documents and the audio; the
// input is untouched; any -j and any time zone give the same bytes.
TEST(ReadAlong, PandocBooksAreNarratedAsCheckersSeeThem) {
    ScratchDir scratch;
    for (const std::string to : {"epub3", "epub2"}) {
        SCOPED_TRACE(to);
        const std::string book = to + ".epub";
        writeBook(scratch, to, book);
        const std::string input = test::readBytes(scratch / book);
        const Outcome made =
            convert(scratch, {"-q", "-e", "slt", "-j", "3", "-o", "narrated-" + book, book});
        ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
        EXPECT_EQ(made.standardError, "");
        EXPECT_EQ(test::readBytes(scratch / book), input);
        EXPECT_EQ(epubcheckFindings(scratch, "narrated-" + book), "");
        // The title page (title and author), then the two chapters: eight sentences in all.
        const std::vector<std::string> problems =
            test::pythonLines(readAlongProblems, scratch / ("narrated-" + book));
        EXPECT_EQ(problems, std::vector<std::string>{"overlays 3 pars 8"});
    }
    // Another -j, and a time zone fourteen hours away: a zip's times have no zone, and the
    // book's modification date is made from one.
    test::ProgramSetup farEast;
    farEast.environment = {{"TZ", "XYZ-14"}};
    const Outcome again = convert(
        scratch, {"-q", "-e", "slt", "-j", "1", "--type", "epub", "-o", "again.book", "epub2.epub"},
        farEast);
    ASSERT_EQ(again.exitStatus(), 0) << again.standardError;
    EXPECT_EQ(test::readBytes(scratch / "again.book"),
              test::readBytes(scratch / "narrated-epub2.epub"));
}

// A Markdown file's read-along book is made of what was read aloud, a content document per
// chapter, here with AAC in MP4 for its audio; EPUBCheck and the independent reader find
// nothing wrong with it either.
TEST(ReadAlong, MarkdownBecomesANarratedBook) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.md", bookMarkdown);
    const Outcome made = convert(scratch, {"-q", "-e", "slt", "--read-along-audio", "aac", "-o",
                                           "narrated-book.epub", "book.md"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    EXPECT_EQ(epubcheckFindings(scratch, "narrated-book.epub"), "");
    // Two chapters: each heading, then three sentences and two.
    EXPECT_EQ(test::pythonLines(readAlongProblems, scratch / "narrated-book.epub"),
              std::vector<std::string>{"overlays 2 pars 6"});
}

// A book made by hand: two chapters at anchors of one page; two sentences across the emphasis
// between them, which one span holds together; and one that ends after an emphasis it began
// inside of, which no span holds: it is read aloud, not highlighted. One warning says both;
// EPUBCheck finds nothing wrong.
constexpr const char* handMadeBook = R"PY(
import sys, zipfile
page = '''<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html>
<html xmlns="http://www.w3.org/1999/xhtml" xml:lang="en" lang="en">
<head><title>Anchors</title></head>
<body>
<h2 id="first">First part</h2>
<p>It begins <em>plainly. Then</em> it goes on.</p>
<p><em>Alone. Across</em> the end.</p>
<h2 id="second">Second part</h2>
<p>Fish &amp; chips are <b>good</b>.</p>
</body>
</html>
'''
nav = '''<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html>
<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops" xml:lang="en" lang="en">
<head><title>Contents</title></head>
<body><nav epub:type="toc"><ol>
<li><a href="page.xhtml#first">First part</a></li>
<li><a href="page.xhtml#second">Second part</a></li>
</ol></nav></body>
</html>
'''
opf = '''<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/">
<dc:identifier id="id">urn:uuid:00000000-0000-4000-8000-000000000031</dc:identifier>
<dc:title>Anchors</dc:title><dc:language>en</dc:language>
<meta property="dcterms:modified">2020-01-01T00:00:00Z</meta>
</metadata>
<manifest>
<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="page" href="page.xhtml" media-type="application/xhtml+xml"/>
</manifest>
<spine><itemref idref="page"/></spine>
</package>
'''
container = '''<?xml version="1.0"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
<rootfiles><rootfile full-path="OPS/book.opf" media-type="application/oebps-package+xml"/></rootfiles>
</container>
'''
with zipfile.ZipFile(sys.argv[1], 'w') as book:
    book.writestr('mimetype', 'application/epub+zip', zipfile.ZIP_STORED)
    for name, text in [('META-INF/container.xml', container), ('OPS/book.opf', opf),
                       ('OPS/nav.xhtml', nav), ('OPS/page.xhtml', page)]:
        book.writestr(name, text, zipfile.ZIP_DEFLATED)
)PY";

TEST(ReadAlong, SentencesAcrossMarkupShareASpanOrAreReadAlone) {
    ScratchDir scratch;
    test::pythonLines(handMadeBook, scratch / "anchors.epub");
    const Outcome made =
        convert(scratch, {"-q", "-e", "slt", "-o", "narrated-anchors.epub", "anchors.epub"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    EXPECT_EQ(made.standardError,
              "kestrova-wav-cli: warning: \"anchors.epub\": 2 sentences across the markup "
              "between them highlighted together; 1 sentence across the markup around them read "
              "aloud, not highlighted\n");
    EXPECT_EQ(epubcheckFindings(scratch, "narrated-anchors.epub"), "");
    // Seven sentences: the headings, the two together, "Alone.", and "Fish & chips are good."
    EXPECT_EQ(test::pythonLines(readAlongProblems, scratch / "narrated-anchors.epub"),
              std::vector<std::string>{"overlays 1 pars 5"});
}

// Each sentence's clip of a read-along book (sys.argv[1]) in the reading order, cut out of its
// audio file by ffmpeg as the recogniser's 16 kHz 16-bit mono, with 0.3 s of silence either
// side (without it, the recogniser often mishears a word that starts at the first sample):
// clip-N.wav beside the book, and a line "clip-N.wav<TAB>the text of the element the clip
// highlights" for each.
const std::string sentenceClips = packageOpening + std::string(R"PY(
book = out
spine = [items[ref.get('idref')] for ref in opf.find(OPF + 'spine')]
clips = 0
with tempfile.TemporaryDirectory() as audios:
    for item in (item for item in spine if item.get('media-overlay')):
        smilName = entry(opfname, items[item.get('media-overlay')].get('href'))
        for par in ET.fromstring(book.read(smilName)).iter(SMIL + 'par'):
            path, fragment = par.find(SMIL + 'text').get('src').split('#')
            page = ET.fromstring(book.read(entry(smilName, path)))
            sentence = ' '.join(''.join(next(e for e in page.iter() if e.get('id') == fragment).itertext()).split())
            clip = par.find(SMIL + 'audio')
            audio = os.path.join(audios, entry(smilName, clip.get('src')).replace('/', '_'))
            if not os.path.exists(audio):
                with open(audio, 'wb') as f:
                    f.write(book.read(entry(smilName, clip.get('src'))))
            clips += 1
            name = 'clip-%d.wav' % clips
            cut = 'atrim=start=%s:end=%s,adelay=300:all=1,apad=pad_dur=0.3' % (
                clip.get('clipBegin')[:-1], clip.get('clipEnd')[:-1])
            subprocess.run(['ffmpeg', '-v', 'error', '-y', '-i', audio, '-af', cut, '-ar', '16000',
                            '-ac', '1', '-c:a', 'pcm_s16le', name], check=True)
            print(name + '\t' + sentence)
)PY");

// The words of a text on one line, one space apart.
std::string oneLine(const std::string& text) {
    std::istringstream words(text);
    std::string line;
    for (std::string word; words >> word;)
        line += (line.empty() ? "" : " ") + word;
    return line;
}

// What PocketSphinx hears in each clip of the folder (an utterance a line), two recognisers at
// a time.
std::vector<std::string> recognisedWords(const fs::path& folder,
                                         const std::vector<std::string>& clips) {
    const std::string model = "/usr/share/pocketsphinx/model/en-us/";
    std::vector<std::string> heard;
    for (std::size_t first = 0; first < clips.size(); first += 2) {
        std::deque<test::RunningProgram> recognisers;
        for (std::size_t i = first; i < std::min(first + 2, clips.size()); ++i)
            recognisers.emplace_back(
                "/usr/bin/pocketsphinx_continuous",
                std::vector<std::string>{"-infile", clips[i], "-hmm", model + "en-us", "-lm",
                                         model + "en-us.lm.bin", "-dict",
                                         model + "cmudict-en-us.dict", "-logfn", "/dev/null"},
                folder);
        for (test::RunningProgram& recogniser : recognisers) {
            const Outcome outcome = recogniser.wait();
            if (outcome.exitStatus() != 0)
                throw std::runtime_error("pocketsphinx_continuous: " + outcome.standardError);
            heard.push_back(oneLine(outcome.standardOutput));
        }
    }
    return heard;
}

struct HeardClip {
    std::string sentence; // the text of the element the clip highlights
    std::string heard;    // what the recogniser heard in the clip
};

// The share of their words the two lists have in common, in order: 1 when the same.
double sharedWords(const std::vector<std::string>& sentence,
                   const std::vector<std::string>& heard) {
    const test::WordMatch match = test::matchWords(sentence, heard);
    const std::size_t both = match.expected + match.spoken;
    return both ? 2.0 * double(match.matched) / double(both) : 1.0;
}

// What is wrong with the clips as the recogniser hears them, a line each: a clip that shares
// less than half of the words with its sentence, or as many with another sentence of the book
// (a clip of the wrong sentence, document or place); over the book, a word error rate past
// 30% (clips cut a fraction of a sentence off). Flite read aloud has some 10 to 15%.
std::vector<std::string> misheardClips(const std::vector<HeardClip>& clips) {
    std::vector<std::string> problems;
    std::size_t errors = 0, said = 0;
    for (const HeardClip& clip : clips) {
        const std::vector<std::string> heard = test::wordsOf(clip.heard);
        const std::vector<std::string> sentence = test::wordsOf(clip.sentence);
        errors += test::wordErrors(sentence, heard);
        said += sentence.size();
        const double own = sharedWords(sentence, heard);
        const bool nearer = std::ranges::any_of(clips, [&](const HeardClip& other) {
            return other.sentence != clip.sentence &&
                   sharedWords(test::wordsOf(other.sentence), heard) >= own;
        });
        if (own < 0.5 || nearer)
            problems.push_back("\"" + clip.sentence + "\" heard as \"" + clip.heard + "\"");
    }
    if (errors * 100 > said * 30)
        problems.push_back("word error rate " + std::to_string(errors * 100 / said) + "%");
    return problems;
}

// A book of common, distinct words, read by Flite: PocketSphinx hears in each clip the
// sentence it highlights (the title, the headings and the sentences, in three documents).
TEST(ReadAlong, TheRecogniserHearsEachSentenceInItsClip) {
    ScratchDir scratch;
    test::writePandocBook(scratch.path(),
                          "---\ntitle: Stories from the Country\nlang: en\n---\n\n"
                          "# Evening in the Garden\n\n"
                          "My mother planted red roses behind the old house. Every morning the "
                          "children water the flowers before school.\n\n"
                          "# Three Days at the Lake\n\n"
                          "Six people crossed the river in a small boat. The weather turned "
                          "cold, and heavy rain started to fall.\n",
                          "epub3", "country.epub");
    const Outcome made =
        convert(scratch, {"-q", "-e", "slt", "-o", "narrated-country.epub", "country.epub"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;

    std::vector<std::string> clipFiles;
    std::vector<HeardClip> clips;
    for (const std::string& line :
         test::pythonLines(sentenceClips, scratch / "narrated-country.epub")) {
        const std::size_t tab = line.find('\t');
        clipFiles.push_back(line.substr(0, tab));
        clips.push_back({.sentence = line.substr(tab + 1), .heard = ""});
    }
    ASSERT_EQ(clips.size(), 7u);
    const std::vector<std::string> heard = recognisedWords(scratch.path(), clipFiles);
    for (std::size_t i = 0; i < clips.size(); ++i)
        clips[i].heard = heard[i];
    EXPECT_EQ(misheardClips(clips), std::vector<std::string>{});

    // Each clip given the next sentence, as a clip shifted by one would be: every one is named.
    std::vector<HeardClip> shifted = clips;
    for (std::size_t i = 0; i < clips.size(); ++i)
        shifted[i].sentence = clips[(i + 1) % clips.size()].sentence;
    EXPECT_GE(misheardClips(shifted).size(), clips.size());
}

// What a read-along book cannot be made of is refused before anything is written: the file
// already at -o stays as it was, and nothing else appears.
TEST(ReadAlong, RefusalsLeaveTheFileAtItsPathAlone) {
    ScratchDir scratch;
    writeBook(scratch, "epub2", "old.epub");

    struct Refusal {
        std::vector<std::string> arguments;
        std::string says;
    };
    const Refusal refusals[] = {
        {{"--type", "epub", "-o", "-", "old.epub"}, "-o"},
        {{"--type", "mp3", "--read-along-audio", "aac", "-o", "x.mp3", "old.epub"},
         "--read-along-audio"},
        {{"--split-chapters", "old.epub"}, "--split-chapters"},
        {{"--type", "epub", "-d", "out", "old.epub"}, "-o"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.arguments.front());
        test::writeBytes(scratch / "out.epub", "what was there");
        const test::Snapshot before = test::snapshot(scratch.path());
        std::vector<std::string> call = {"-q", "-e", "slt", "-o", "out.epub"};
        if (refusal.arguments.front() == "--type")
            call = {"-q", "-e", "slt"};
        call.insert(call.end(), refusal.arguments.begin(), refusal.arguments.end());
        const Outcome refused = convert(scratch, call);
        EXPECT_EQ(refused.exitStatus(), 2) << refused.standardError;
        EXPECT_NE(refused.standardError.find(refusal.says), std::string::npos)
            << refused.standardError;
        EXPECT_EQ(test::snapshot(scratch.path()), before);
    }
}

// A book that replaces a file keeps the file's mode; a device that takes no more fails the
// conversion with status 1 in one line naming it and the reason.
TEST(ReadAlong, ReplacesKeepingTheModeAndFailsOnAFullDevice) {
    ScratchDir scratch;
    test::writeBytes(scratch / "notes.txt", "A short note. Another one.\n");
    test::writeBytes(scratch / "out.epub", "what was there");
    fs::permissions(scratch / "out.epub", fs::perms(0640));
    const Outcome made = convert(scratch, {"-q", "-e", "slt", "-o", "out.epub", "notes.txt"});
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    EXPECT_EQ(fs::status(scratch / "out.epub").permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_TRUE(test::readBytes(scratch / "out.epub").starts_with("PK\x03\x04"));

    const Outcome full =
        convert(scratch, {"-q", "-e", "slt", "--type", "epub", "-o", "/dev/full", "notes.txt"});
    EXPECT_EQ(full.exitStatus(), 1);
    EXPECT_EQ(full.standardError, "kestrova-wav-cli: cannot write the read-along book "
                                  "\"/dev/full\": No space left on device\n");
}

// A stop signal while the narration renders: status 143, one line naming the book (not the
// private wave file it is rendered into), and nothing left in $TMPDIR or at -o.
TEST(ReadAlong, AStopSignalNamesTheBookAndLeavesNothing) {
    ScratchDir scratch;
    fs::create_directory(scratch / "tmp");
    std::string markdown;
    for (int i = 1; i <= 40; ++i)
        markdown += "# Part " + std::to_string(i) + "\n\n" + test::sentences(2000) + "\n\n";
    test::writeBytes(scratch / "long.md", markdown);
    test::ProgramSetup setup;
    setup.environment = {{"TMPDIR", (scratch / "tmp").string()}};
    test::RunningProgram cli(KESTROVA_CLI_PATH, {"convert", "-q", "-o", "long.epub", "long.md"},
                             scratch.path(), setup);
    // The narration's wave file, unnamed in the private folder until whole, has sound in it.
    ASSERT_TRUE(cli.waitFor([&] {
        std::error_code error;
        for (const auto& folder : fs::directory_iterator(scratch / "tmp", error))
            if (test::unfinishedOutput(cli.pid(), folder.path()).value_or(0) > 0)
                return true;
        return false;
    }));
    ::kill(cli.pid(), SIGTERM);
    const Outcome stopped = cli.wait();
    EXPECT_EQ(stopped.exitStatus(), 128 + SIGTERM);
    EXPECT_EQ(stopped.standardError, "kestrova-wav-cli: cannot write the read-along book "
                                     "\"long.epub\": the conversion was cancelled\n");
    EXPECT_TRUE(fs::is_empty(scratch / "tmp"));
    EXPECT_FALSE(fs::exists(scratch / "long.epub"));
}

} // namespace read_along_test

} // namespace kestrova::cli
