// The files made from a conversion's timings: the JSON read back by Python's parser, the
// subtitles' cues (split between words, timed in proportion, never overlapping), every
// WebVTT file checked by the format's rules, the cue sheet's frames, and the writer that puts
// them on disk as carefully as the sound.

#include "speech/conversion/side_files/subtitle_cues.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/webvtt_checker.h"

#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

std::string repeated(const std::string& text, std::size_t times) {
    std::string joined;
    for (std::size_t i = 0; i < times; ++i)
        joined += text;
    return joined;
}

// Thirty words of six letters: 209 characters, three cues' worth.
std::string thirtyWords() {
    std::string text;
    for (int i = 1; i <= 30; ++i)
        text += (i > 1 ? " word" : "word") + std::string(i < 10 ? "0" : "") + std::to_string(i);
    return text;
}

SentenceTiming sentence(std::string text, std::uint64_t first, std::uint64_t last,
                        unsigned chapter = 1) {
    SentenceTiming timing;
    timing.text = std::move(text);
    timing.firstFrame = first;
    timing.lastFrame = last;
    timing.chapter = chapter;
    return timing;
}

// A small book: an opening, two chapters, a sentence from markup (no bytes), marks.
SpeechTimings bookTimings(int rate) {
    const auto at = [rate](double seconds) {
        return static_cast<std::uint64_t>(seconds * rate);
    };
    SpeechTimings timings;
    timings.sampleRate = rate;
    timings.frames = at(36001.0) + 1;
    timings.sentences = {{"A \"Tale\" of\ttwo \\ cities.", 0, 27, 1, 0, at(0.1), at(1.5), {}},
                         {"Chapter 1: The Period", 29, 50, 2, 1, at(2.0), at(3.0) + 7, {}},
                         {thirtyWords(), 52, 261, 3, 1, at(3.5), at(12.0), {}},
                         {"Chapter \"2\"", 263, 274, 4, 2, at(13.0), at(14.0), {}},
                         {"Ünïcödé 日本語 — & <done>",
                          std::nullopt,
                          std::nullopt,
                          5,
                          2,
                          at(36000.0) + 1,
                          at(36001.0),
                          {}}};
    timings.chapters = {{0, "", 0, at(0.1), at(1.8)},
                        {1, "Chapter 1: The Period", at(1.8), at(2.0), at(12.5)},
                        {2, "Chapter \"2\"", at(12.5), at(13.0), timings.frames}};
    timings.marks = {{"start", at(0.1)}, {"q\"uote", at(36000.0) + 3}};
    return timings;
}

// ---- JSON -------------------------------------------------------------------------------

// The document as Python's json module reads it, a line per entry, each time in seconds
// turned back into a sample.
std::string readBackWithPython(const fs::path& json) {
    const std::string script = R"(import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
r = d["sample_rate"]
t = lambda s: round(s * r)
print(sorted(d), r, d["frames"], t(d["seconds"]), d["sound_file"])
for s in d["sentences"]:
    print("S", sorted(s), repr(s["text"]), s["start_byte"], s["end_byte"], s["paragraph"],
          s["chapter"], s["first_sample"], s["last_sample"], t(s["start_seconds"]),
          t(s["end_seconds"]))
for c in d["chapters"]:
    print("C", c["number"], repr(c["title"]), c["start_sample"], c["heading_sample"],
          c["end_sample"], t(c["start_seconds"]), t(c["heading_seconds"]), t(c["end_seconds"]))
for m in d["marks"]:
    print("M", repr(m["name"]), m["sample"], t(m["seconds"])))";
    test::ProgramSetup setup;
    setup.environment = {{"PYTHONIOENCODING", "utf-8"}};
    const test::Outcome outcome = test::runProgram(
        "/usr/bin/python3", {"-c", script, json.string()}, json.parent_path(), setup);
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    return outcome.standardOutput;
}

std::string pythonRepr(const std::string& text) {
    std::string repr =
        text.find('\'') != std::string::npos && text.find('"') == std::string::npos ? "\"" : "'";
    const char quote = repr[0];
    for (const char c : text) {
        if (c == '\\')
            repr += "\\\\";
        else if (c == '\t')
            repr += "\\t";
        else if (c == quote)
            repr += std::string("\\") + c;
        else
            repr += c;
    }
    return repr + quote;
}

std::string expectedReadBack(const SpeechTimings& timings, const std::string& soundFile) {
    const auto number = [](const std::optional<std::uint64_t>& value) {
        return value ? std::to_string(*value) : "None";
    };
    std::ostringstream out;
    out << "['chapters', 'frames', 'marks', 'sample_rate', 'seconds', 'sentences', "
           "'sound_file'] "
        << timings.sampleRate << " " << timings.frames << " " << timings.frames << " " << soundFile
        << "\n";
    for (const SentenceTiming& s : timings.sentences)
        out << "S ['chapter', 'end_byte', 'end_seconds', 'first_sample', 'last_sample', "
               "'paragraph', 'start_byte', 'start_seconds', 'text'] "
            << pythonRepr(s.text) << " " << number(s.startByte) << " " << number(s.endByte) << " "
            << s.paragraph << " " << s.chapter << " " << s.firstFrame << " " << s.lastFrame << " "
            << s.firstFrame << " " << s.lastFrame + 1 << "\n";
    for (const ChapterTiming& c : timings.chapters)
        out << "C " << c.number << " " << pythonRepr(c.title) << " " << c.startFrame << " "
            << c.headingFrame << " " << c.endFrame << " " << c.startFrame << " " << c.headingFrame
            << " " << c.endFrame << "\n";
    for (const MarkTiming& m : timings.marks)
        out << "M " << pythonRepr(m.name) << " " << m.frame << " " << m.frame << "\n";
    return out.str();
}

class TimingsJson : public ::testing::TestWithParam<int> {};

// Every value comes back, and every time in seconds names its sample, ten hours in.
TEST_P(TimingsJson, ReadsBackWithEverySampleInSeconds) {
    ScratchDir scratch;
    const SpeechTimings timings = bookTimings(GetParam());
    test::writeBytes(scratch / "book.json", timingsJson(timings, "my \"book\".wav"));
    EXPECT_EQ(readBackWithPython(scratch / "book.json"),
              expectedReadBack(timings, "my \"book\".wav"));
}

INSTANTIATE_TEST_SUITE_P(Rates, TimingsJson, ::testing::Values(8000, 22050, 48000, 96000));

TEST(TimingsJsonEmpty, HasEmptyListsAndBytesNotUtf8Replaced) {
    ScratchDir scratch;
    SpeechTimings timings;
    timings.sampleRate = 16000;
    test::writeBytes(scratch / "empty.json", timingsJson(timings, "caf\xE9.wav"));
    EXPECT_EQ(readBackWithPython(scratch / "empty.json"),
              "['chapters', 'frames', 'marks', 'sample_rate', 'seconds', 'sentences', "
              "'sound_file'] 16000 0 0 caf\xEF\xBF\xBD.wav\n");
}

// ---- Cues -------------------------------------------------------------------------------

struct SplitCase {
    std::string name;
    std::string text;
    std::vector<std::vector<std::string>> cues; // each cue's lines
};

void PrintTo(const SplitCase& entry, std::ostream* out) {
    *out << entry.name;
}

class CueSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CueSplitting, KeepsTwoLinesOf42CharactersBrokenBetweenWords) {
    SpeechTimings timings;
    timings.sampleRate = 1000;
    timings.sentences = {sentence(GetParam().text, 0, 999)};
    std::vector<std::vector<std::string>> lines;
    for (const SubtitleCue& cue : subtitleCues(timings))
        lines.push_back(cue.lines);
    EXPECT_EQ(lines, GetParam().cues);
}

const std::string x42 = std::string(42, 'x');
const std::string e42 = repeated("é", 42);

INSTANTIATE_TEST_SUITE_P(
    Table, CueSplitting,
    ::testing::Values(
        SplitCase{"short", "  Hello\t there.\n", {{"Hello there."}}}, SplitCase{"empty", "", {}},
        SplitCase{"blank", " \t\n ", {}},
        SplitCase{"two lines",
                  "The quick brown fox jumps over the lazy dog and then it runs far away.",
                  {{"The quick brown fox jumps over the lazy", "dog and then it runs far away."}}},
        // Three even cues of ten words, not two full ones of twelve and a scrap of six.
        SplitCase{"three even cues",
                  thirtyWords(),
                  {{"word01 word02 word03 word04 word05 word06", "word07 word08 word09 word10"},
                   {"word11 word12 word13 word14 word15 word16", "word17 word18 word19 word20"},
                   {"word21 word22 word23 word24 word25 word26", "word27 word28 word29 word30"}}},
        SplitCase{"a word longer than a line is cut",
                  std::string(100, 'x'),
                  {{x42}, {x42, std::string(16, 'x')}}},
        // Characters, not bytes: 42 two-byte letters fill one line.
        SplitCase{"UTF-8 counted in characters", e42 + " ab", {{e42, "ab"}}},
        SplitCase{"bytes not UTF-8 replaced", "caf\xE9 \x01ok", {{"caf\xEF\xBF\xBD ok"}}}));

// A sentence's cues share its time in proportion to their characters, end to end.
TEST(CueTimes, ShareTheSentenceInProportionToCharacters) {
    SpeechTimings timings;
    timings.sampleRate = 22050;
    timings.sentences = {sentence(thirtyWords(), 1000, 3999),          // 3 cues of 69 characters
                         sentence(std::string(100, 'x'), 5000, 5100)}; // 42 and 59 characters
    std::vector<std::pair<std::uint64_t, std::uint64_t>> frames;
    for (const SubtitleCue& cue : subtitleCues(timings))
        frames.emplace_back(cue.startFrame, cue.endFrame);
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected = {
        {1000, 2000}, {2000, 3000}, {3000, 4000}, {5000, 5042}, {5042, 5101}};
    EXPECT_EQ(frames, expected);
}

// ---- Subtitle files ---------------------------------------------------------------------

struct FormatCase {
    SubtitleKind kind;
    std::string text;
};

class SubtitleFormat : public ::testing::TestWithParam<FormatCase> {};

// Exact text for two sentences at 8 kHz, the second needing each format's escaping.
TEST_P(SubtitleFormat, WritesTheFormatExactly) {
    SpeechTimings timings;
    timings.sampleRate = 8000;
    timings.sentences = {sentence("Hello there.", 8000, 16399), sentence("", 17000, 17000),
                         sentence("Fish & <chips> --> now", 20000, 27999)};
    EXPECT_EQ(subtitles(timings, GetParam().kind), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SubtitleFormat,
    ::testing::Values(FormatCase{SubtitleKind::SubRip, "1\n"
                                                       "00:00:01,000 --> 00:00:02,050\n"
                                                       "Hello there.\n\n"
                                                       "2\n"
                                                       "00:00:02,500 --> 00:00:03,500\n"
                                                       "Fish & <\u2060chips> --\u2060> now\n\n"},
                      FormatCase{SubtitleKind::WebVtt, "WEBVTT\n\n"
                                                       "00:00:01.000 --> 00:00:02.050\n"
                                                       "Hello there.\n\n"
                                                       "00:00:02.500 --> 00:00:03.500\n"
                                                       "Fish &amp; &lt;chips&gt; --&gt; now\n"},
                      FormatCase{SubtitleKind::Lrc, "[00:01.00]Hello there.\n"
                                                    "[00:02.05]\n"
                                                    "[00:02.50]Fish & <chips> --> now\n"
                                                    "[00:03.50]\n"}));

struct Span {
    std::uint64_t start = 0; // in the format's unit
    std::uint64_t end = 0;
};

// The cue times of an SRT or a WebVTT file in milliseconds, of an LRC file in hundredths
// (its ends being the next line's start).
std::vector<Span> spansOf(const std::string& text, SubtitleKind kind) {
    std::vector<Span> spans;
    if (kind == SubtitleKind::Lrc) {
        static const std::regex line(R"(\[(\d{2,}):(\d{2})\.(\d{2})\](.*))");
        std::vector<std::pair<std::uint64_t, bool>> stamps; // time, has text
        for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
             it != std::sregex_iterator(); ++it)
            stamps.emplace_back((std::stoull((*it)[1]) * 60 + std::stoull((*it)[2])) * 100 +
                                    std::stoull((*it)[3]),
                                !(*it)[4].str().empty());
        for (std::size_t i = 0; i < stamps.size(); ++i)
            if (stamps[i].second)
                spans.push_back({stamps[i].first,
                                 i + 1 < stamps.size() ? stamps[i + 1].first : stamps[i].first});
        return spans;
    }
    static const std::regex timing(
        R"((\d{2,}):(\d{2}):(\d{2})[,.](\d{3}) --> (\d{2,}):(\d{2}):(\d{2})[,.](\d{3}))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), timing);
         it != std::sregex_iterator(); ++it) {
        const auto ms = [&](int at) {
            return ((std::stoull((*it)[at]) * 60 + std::stoull((*it)[at + 1])) * 60 +
                    std::stoull((*it)[at + 2])) *
                       1000 +
                   std::stoull((*it)[at + 3]);
        };
        spans.push_back({ms(1), ms(5)});
    }
    return spans;
}

class SubtitleTimes : public ::testing::TestWithParam<SubtitleKind> {};

// Sentences a sample apart, or shorter than a millisecond, still get cues that follow one
// another without overlapping, each ending after it starts; and hours pass unharmed.
TEST_P(SubtitleTimes, NeverOverlapAndAlwaysEndAfterTheyStart) {
    SpeechTimings timings;
    timings.sampleRate = 22050;
    timings.sentences = {sentence("One.", 100, 100), sentence("Two.", 101, 101),
                         sentence("Three.", 102, 150), sentence(thirtyWords(), 151, 160),
                         sentence("Late.", 22050ull * 3600 * 27 + 11, 22050ull * 3600 * 27 + 999)};
    const std::vector<Span> spans = spansOf(subtitles(timings, GetParam()), GetParam());
    ASSERT_EQ(spans.size(), 7u);
    for (std::size_t i = 0; i < spans.size(); ++i) {
        EXPECT_GT(spans[i].end, spans[i].start) << "cue " << i;
        if (i > 0) {
            EXPECT_GE(spans[i].start, spans[i - 1].end) << "cue " << i;
        }
    }
    const std::uint64_t unitsPerSecond = GetParam() == SubtitleKind::Lrc ? 100 : 1000;
    EXPECT_EQ(spans.back().start, 3600 * 27 * unitsPerSecond);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SubtitleTimes,
                         ::testing::Values(SubtitleKind::SubRip, SubtitleKind::WebVtt,
                                           SubtitleKind::Lrc));

struct KindCase {
    std::string path;
    std::optional<SubtitleKind> kind; // none: refused
};

class SubtitleKindByName : public ::testing::TestWithParam<KindCase> {};

TEST_P(SubtitleKindByName, TakesTheEndingInAnyCase) {
    if (GetParam().kind) {
        EXPECT_EQ(subtitleKindForPath(GetParam().path), *GetParam().kind);
        return;
    }
    try {
        subtitleKindForPath(GetParam().path);
        ADD_FAILURE() << "accepted " << GetParam().path;
    } catch (const FileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "cannot write the subtitle file \"" + GetParam().path +
                      "\": its ending does not say which subtitles: .srt, .vtt or .lrc");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SubtitleKindByName,
                         ::testing::Values(KindCase{"a.srt", SubtitleKind::SubRip},
                                           KindCase{"dir/B.SRT", SubtitleKind::SubRip},
                                           KindCase{"c.Vtt", SubtitleKind::WebVtt},
                                           KindCase{"song.lrc", SubtitleKind::Lrc},
                                           KindCase{"notes.txt", std::nullopt},
                                           KindCase{"srt", std::nullopt},
                                           KindCase{"a.srt.bak", std::nullopt}));

// ---- Subtitles as players read them ---------------------------------------------------

// What a player shows of an ASS event's text: style blocks {...} hidden, \N, \n and \h as
// spaces, \{ and \} as braces; the invisible word joiner dropped, the full-width braces of
// SubRip read as braces.
std::string shownText(std::string_view ass) {
    std::string shown;
    for (std::size_t i = 0; i < ass.size(); ++i) {
        if (ass[i] == '\\' && i + 1 < ass.size() &&
            std::string_view("{}").find(ass[i + 1]) != std::string_view::npos) {
            shown += ass[++i];
        } else if (ass[i] == '\\' && i + 1 < ass.size() &&
                   std::string_view("Nnh").find(ass[i + 1]) != std::string_view::npos) {
            shown += ' ';
            ++i;
        } else if (ass[i] == '{') {
            i = std::min(ass.find('}', i), ass.size());
        } else {
            shown += ass[i];
        }
    }
    for (const auto& [from, to] : {std::pair{"\u2060", ""}, {"\uFF5B", "{"}, {"\uFF5D", "}"}})
        for (std::size_t at; (at = shown.find(from)) != std::string::npos;)
            shown.replace(at, std::string_view(from).size(), to);
    return shown;
}

std::vector<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// A subtitle file as ffmpeg's decoder gives it to a player: the words shown, gathered per
// sentence by the cue's start (sentence i starts at 2i seconds).
std::vector<std::vector<std::string>> wordsReadByFfmpeg(const fs::path& file) {
    const test::Outcome outcome =
        test::runProgram("/usr/bin/ffmpeg", {"-v", "error", "-i", file.string(), "-f", "ass", "-"},
                         file.parent_path());
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    static const std::regex dialogue(
        R"(Dialogue: [^,]*,(\d+):(\d\d):(\d\d)\.\d\d,(?:[^,]*,){7}(.*))");
    std::vector<std::vector<std::string>> sentences;
    std::istringstream lines(outcome.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        if (line.ends_with('\r')) // ASS lines end in CR LF
            line.pop_back();
        std::smatch match;
        if (!std::regex_match(line, match, dialogue))
            continue;
        const std::size_t seconds =
            (std::stoul(match[1]) * 60 + std::stoul(match[2])) * 60 + std::stoul(match[3]);
        sentences.resize(std::max(sentences.size(), seconds / 2 + 1));
        for (std::string& word : wordsOf(shownText(match[4].str())))
            sentences[seconds / 2].push_back(std::move(word));
    }
    return sentences;
}

// Text that looks like markup to a player comes back from ffmpeg's SubRip and WebVTT
// decoders as the words written: no tag taken, no style turned on, no word lost.
TEST(SubtitlesReadByFfmpeg, GiveEverySentencesWords) {
    const std::vector<std::string> texts = {
        "If a < b & c > d, then stop.",
        "<i>x</i> is not italic, <b>nor</b> bold, <font color=\"red\">nor</font> red.",
        "The arrow --> points on, and ---> too.",
        "Braces {like these} and {\\an8} {y:i} style codes stay.",
        "A path C:\\new\\hello and \\N \\h escapes.",
        "Fish &amp; chips &lt;3 &#60; <br> done.",
        "Long " + repeated("a < b and c > d, ", 8) + "end."};
    SpeechTimings timings;
    timings.sampleRate = 8000;
    for (std::size_t i = 0; i < texts.size(); ++i)
        timings.sentences.push_back(sentence(texts[i], i * 16000, i * 16000 + 12000));
    ScratchDir scratch;
    for (const auto& [name, kind] :
         {std::pair{"x.srt", SubtitleKind::SubRip}, {"x.vtt", SubtitleKind::WebVtt}}) {
        test::writeBytes(scratch / name, subtitles(timings, kind));
        const auto read = wordsReadByFfmpeg(scratch / name);
        ASSERT_EQ(read.size(), texts.size()) << name;
        for (std::size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(read[i], wordsOf(texts[i])) << name << ": " << texts[i];
    }
}

// ---- WebVTT by its rules ----------------------------------------------------------------

TEST(WebVttFiles, PassTheFormatsRulesWithEveryCueFromTheTimings) {
    for (const int rate : {8000, 22050, 48000}) {
        const SpeechTimings timings = bookTimings(rate);
        const std::string vtt = subtitles(timings, SubtitleKind::WebVtt);
        const test::WebVttCheck check = test::checkWebVtt(vtt);
        ASSERT_TRUE(check.valid()) << check.error << "\n" << vtt;
        const std::vector<SubtitleCue> cues = subtitleCues(timings);
        ASSERT_EQ(check.cues.size(), cues.size());
        for (std::size_t i = 0; i < cues.size(); ++i) {
            // Within half a millisecond, rounding's share.
            EXPECT_NEAR(static_cast<double>(check.cues[i].startMilliseconds),
                        timings.seconds(cues[i].startFrame) * 1000, 0.5);
            EXPECT_NEAR(static_cast<double>(check.cues[i].endMilliseconds),
                        timings.seconds(cues[i].endFrame) * 1000, 0.5);
        }
        EXPECT_EQ(check.cues.back().lines,
                  std::vector<std::string>{"Ünïcödé 日本語 — &amp; &lt;done&gt;"});
    }
    EXPECT_TRUE(test::checkWebVtt(subtitles({}, SubtitleKind::WebVtt)).valid());
}

struct VttCase {
    std::string name;
    std::string text;
    bool valid;
};

void PrintTo(const VttCase& entry, std::ostream* out) {
    *out << entry.name;
}

class WebVttChecker : public ::testing::TestWithParam<VttCase> {};

// The checker itself: it passes what the rules allow and catches each fault.
TEST_P(WebVttChecker, FollowsTheRules) {
    const test::WebVttCheck check = test::checkWebVtt(GetParam().text);
    EXPECT_EQ(check.valid(), GetParam().valid) << check.error;
}

const std::string cueA = "00:01.000 --> 00:02.000\nA\n";

INSTANTIATE_TEST_SUITE_P(
    Table, WebVttChecker,
    ::testing::Values(
        VttCase{"minimal", "WEBVTT\n\n" + cueA, true},
        VttCase{
            "everything allowed",
            "\xEF\xBB\xBFWEBVTT - a title\r\n\r\nNOTE a remark\r\n\r\nSTYLE\r\n::cue {}\r\n\r\n"
            "intro\r\n01:00:01.000 --> 01:00:02.500 align:start\r\n<v Roger>Hi &amp; "
            "bye</v>\r\n<i>two</i> &#x263A;\r\n\r\n\r\n123:00:01.000 --> 123:00:01.001\r\nB\r\n",
            true},
        VttCase{"no signature", "\n" + cueA, false},
        VttCase{"signature run on", "WEBVTTX\n\n" + cueA, false},
        VttCase{"no blank line after the signature", "WEBVTT\n" + cueA, false},
        VttCase{"ends as it starts", "WEBVTT\n\n00:01.000 --> 00:01.000\nA\n", false},
        VttCase{"starts before the one before", "WEBVTT\n\n00:02.000 --> 00:03.000\nA\n\n" + cueA,
                false},
        VttCase{"arrow in the text", "WEBVTT\n\n00:01.000 --> 00:02.000\nA --> B\n", false},
        VttCase{"blank line inside a cue", "WEBVTT\n\n00:01.000 --> 00:02.000\nA\n\nB\n", false},
        VttCase{"sixty minutes", "WEBVTT\n\n00:60:00.000 --> 01:00:02.000\nA\n", false},
        VttCase{"one hour digit", "WEBVTT\n\n1:00:00.000 --> 01:00:02.000\nA\n", false},
        VttCase{"comma for a point", "WEBVTT\n\n00:01,000 --> 00:02.000\nA\n", false},
        VttCase{"bare ampersand", "WEBVTT\n\n" + cueA + "\n00:03.000 --> 00:04.000\nA & B\n",
                false},
        VttCase{"bare less-than", "WEBVTT\n\n00:01.000 --> 00:02.000\n1 < 2\n", false},
        VttCase{"STYLE after a cue", "WEBVTT\n\n" + cueA + "\nSTYLE\n::cue {}\n", false},
        VttCase{"not UTF-8", "WEBVTT\n\n00:01.000 --> 00:02.000\ncaf\xE9\n", false}));

// ---- Cue sheet --------------------------------------------------------------------------

struct IndexCase {
    int rate;
    std::uint64_t headingFrame;
    std::string index;
};

class CueSheetIndex : public ::testing::TestWithParam<IndexCase> {};

// The frame (1/75 s) the heading's first sample falls in: never after the heading, and less
// than a frame before it.
TEST_P(CueSheetIndex, IsTheFrameOfTheHeadingsFirstSample) {
    SpeechTimings timings;
    timings.sampleRate = GetParam().rate;
    timings.sentences = {sentence("Chapter One", GetParam().headingFrame, GetParam().headingFrame)};
    timings.chapters = {{1, "Chapter One", 0, GetParam().headingFrame, GetParam().headingFrame}};
    const std::string sheet = cueSheet(timings, "a.wav", Container::Wave, {});
    const std::size_t at = sheet.find("INDEX 01 ");
    ASSERT_NE(at, std::string::npos) << sheet;
    EXPECT_EQ(sheet.substr(at + 9, sheet.find('\r', at) - at - 9), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Table, CueSheetIndex,
                         ::testing::Values(IndexCase{44100, 0, "00:00:00"},
                                           IndexCase{48000, 639, "00:00:00"},
                                           IndexCase{48000, 640, "00:00:01"},
                                           IndexCase{22050, 22050 * 65 + 2940, "01:05:10"},
                                           IndexCase{22050, 22050 * 65 + 2939, "01:05:09"},
                                           IndexCase{16000, 16000ull * 7200 + 15999, "120:00:74"}));

TEST(CueSheets, ListAnOpeningAndEveryChapterWithSafeTitles) {
    SoundTags tags;
    tags.title = "A \"Tale\"";
    tags.artist = "Ann\nOther";
    tags.genre = "Speech";
    const std::string sheet = cueSheet(bookTimings(22050), "book.flac", Container::Flac, tags);
    EXPECT_EQ(sheet, "REM GENRE \"Speech\"\r\n"
                     "PERFORMER \"Ann Other\"\r\n"
                     "TITLE \"A 'Tale'\"\r\n"
                     "FILE \"book.flac\" WAVE\r\n"
                     "  TRACK 01 AUDIO\r\n"
                     "    TITLE \"A 'Tale'\"\r\n"
                     "    INDEX 01 00:00:00\r\n"
                     "  TRACK 02 AUDIO\r\n"
                     "    TITLE \"Chapter 1: The Period\"\r\n"
                     "    INDEX 01 00:02:00\r\n"
                     "  TRACK 03 AUDIO\r\n"
                     "    TITLE \"Chapter '2'\"\r\n"
                     "    INDEX 01 00:13:00\r\n");
}

// Speech that begins with a heading: the silence before it is the first track's pregap.
TEST(CueSheets, StartWithTheFirstChapterWhenNothingComesBeforeIt) {
    SpeechTimings timings = bookTimings(22050);
    timings.sentences.erase(timings.sentences.begin());
    const std::string sheet = cueSheet(timings, "book.mp3", Container::Mp3, {});
    EXPECT_EQ(sheet, "FILE \"book.mp3\" MP3\r\n"
                     "  TRACK 01 AUDIO\r\n"
                     "    TITLE \"Chapter 1: The Period\"\r\n"
                     "    INDEX 00 00:00:00\r\n"
                     "    INDEX 01 00:02:00\r\n"
                     "  TRACK 02 AUDIO\r\n"
                     "    TITLE \"Chapter '2'\"\r\n"
                     "    INDEX 01 00:13:00\r\n");
}

struct SheetFailure {
    std::string name;
    unsigned chapters;
    std::string soundFile;
    Container container;
    std::string message; // empty: written
};

void PrintTo(const SheetFailure& entry, std::ostream* out) {
    *out << entry.name;
}

class CueSheetLimits : public ::testing::TestWithParam<SheetFailure> {};

TEST_P(CueSheetLimits, RefuseWhatNoCueSheetCanSay) {
    SpeechTimings timings;
    timings.sampleRate = 16000;
    for (unsigned n = 1; n <= GetParam().chapters; ++n) {
        timings.sentences.push_back(sentence("Part " + std::to_string(n), n * 100, n * 100, n));
        timings.chapters.push_back({n, "Part " + std::to_string(n), n * 100, n * 100, n * 100});
    }
    std::string message;
    try {
        const std::string sheet = cueSheet(timings, GetParam().soundFile, GetParam().container, {});
        EXPECT_NE(sheet.find("TRACK " + std::to_string(GetParam().chapters) + " AUDIO"),
                  std::string::npos);
    } catch (const SpeechError& error) {
        message = error.what();
    }
    EXPECT_EQ(message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CueSheetLimits,
    ::testing::Values(
        SheetFailure{"99 tracks", 99, "a.wav", Container::Wave, ""},
        SheetFailure{"100 tracks", 100, "a.wav", Container::Wave,
                     "a cue sheet holds at most 99 tracks, and this text makes 100; fewer "
                     "headings, or no cue sheet"},
        SheetFailure{"raw PCM", 12, "a.raw", Container::Raw,
                     "a cue sheet cannot name raw PCM, which has no header to say its rate; "
                     "choose a container such as wav or flac"},
        SheetFailure{"quote in the file name", 12, "a\"b.wav", Container::Wave,
                     "a cue sheet cannot name a sound file whose name holds a double quote or "
                     "a line break"}));

// ---- The careful writer -----------------------------------------------------------------

struct WriteCase {
    std::string name;
    // Makes what is at scratch/"out.srt" before the write.
    std::function<void(const ScratchDir&)> prepare;
    bool replaceExisting;
    std::string failure; // the reason given, or empty for success
};

void PrintTo(const WriteCase& entry, std::ostream* out) {
    *out << entry.name;
}

class TextFileWriter : public ::testing::TestWithParam<WriteCase> {
protected:
    void SetUp() override { previousMask_ = ::umask(022); }
    void TearDown() override { ::umask(previousMask_); }
    mode_t previousMask_ = 0;
};

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// A file at the name: replaced only when allowed, keeping its mode; a link written through;
// anything else refused with nothing in the folder changed and nothing left behind.
TEST_P(TextFileWriter, WritesAsCarefullyAsTheSound) {
    ScratchDir scratch;
    GetParam().prepare(scratch);
    const test::Snapshot before = test::snapshot(scratch.path());
    const fs::path path = scratch / "out.srt";
    std::string failure;
    try {
        writeTextFile(path, "new text\n", "subtitle file", GetParam().replaceExisting);
    } catch (const FileError& error) {
        failure = error.what();
    }
    EXPECT_TRUE(test::leftoverParts(scratch.path()).empty());
    if (!GetParam().failure.empty()) {
        EXPECT_EQ(failure, "cannot write the subtitle file \"" + path.string() +
                               "\": " + GetParam().failure);
        EXPECT_EQ(test::snapshot(scratch.path()), before);
        return;
    }
    ASSERT_EQ(failure, "");
    EXPECT_EQ(test::readBytes(path), "new text\n");
    const fs::path file = fs::canonical(path);
    const bool existed = before.count(file.filename().string()) != 0;
    EXPECT_EQ(modeOf(file), existed ? 0640u : 0644u);
    if (fs::is_symlink(path)) {
        EXPECT_EQ(fs::read_symlink(path), "real.srt");
    }
}

void oldFile(const fs::path& path) {
    test::writeBytes(path, "old text, longer than the new\n");
    fs::permissions(path, fs::perms(0640));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextFileWriter,
    ::testing::Values(
        WriteCase{"new file", [](const ScratchDir&) {}, false, ""},
        WriteCase{"replaced keeping its mode", [](const ScratchDir& s) { oldFile(s / "out.srt"); },
                  true, ""},
        WriteCase{"not replaced unless allowed",
                  [](const ScratchDir& s) { oldFile(s / "out.srt"); }, false,
                  "a file is already there"},
        WriteCase{"written through a link",
                  [](const ScratchDir& s) {
                      oldFile(s / "real.srt");
                      fs::create_symlink("real.srt", s / "out.srt");
                  },
                  true, ""},
        WriteCase{"dangling link refused",
                  [](const ScratchDir& s) { fs::create_symlink("gone.srt", s / "out.srt"); }, true,
                  "not writing through a dangling link"},
        WriteCase{"folder refused",
                  [](const ScratchDir& s) { fs::create_directory(s / "out.srt"); }, true,
                  "it is a folder"},
        WriteCase{"FIFO refused, not waited on",
                  [](const ScratchDir& s) { ::mkfifo((s / "out.srt").c_str(), 0644); }, true,
                  "it is a FIFO, not a file; only a file or a character device can take it"}));

struct DeviceCase {
    std::string device;
    std::string failure;
};

class TextFileIntoDevice : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(TextFileIntoDevice, WritesIntoACharacterDeviceAsItStands) {
    std::string failure;
    try {
        writeTextFile(GetParam().device, "{}\n", "timings file", true);
    } catch (const FileError& error) {
        failure = error.what();
    }
    EXPECT_EQ(failure, GetParam().failure);
    EXPECT_TRUE(fs::is_character_file(GetParam().device));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextFileIntoDevice,
    ::testing::Values(DeviceCase{"/dev/null", ""},
                      DeviceCase{"/dev/full", "cannot write the timings file \"/dev/full\": No "
                                              "space left on device"}));

} // namespace
} // namespace kestrova::speech
