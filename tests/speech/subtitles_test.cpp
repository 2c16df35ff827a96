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
#include "timing_files_cases.h"

#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

std::string repeated(const std::string& text, std::size_t times) {
    std::string joined;
    for (std::size_t i = 0; i < times; ++i)
        joined += text;
    return joined;
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

// ---- Voices in the cues ------------------------------------------------------------------

namespace subtitles_test {

// A sentence whose parts begin where each of starts is found in its text, with those voices.
SentenceTiming voicedSentence(const std::string& text,
                              const std::vector<std::pair<std::string, std::string>>& starts,
                              std::uint64_t first, std::uint64_t last) {
    SentenceTiming timing = sentence(text, first, last);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t at = text.find(starts[i].first);
        const std::size_t end =
            i + 1 < starts.size() ? text.find(starts[i + 1].first) : text.size();
        const std::size_t spoken = text.find_last_not_of(' ', end - 1) + 1;
        timing.parts.push_back(
            {.offset = at, .text = text.substr(at, spoken - at), .voice = starts[i].second});
    }
    return timing;
}

const std::string hello = "\u201CFish & chips,\u201D she said. \u201CNow.\u201D";
const std::string joined = "\u201CHi\u201D\u2014he said.";

SpeechTimings voicedTimings() {
    SpeechTimings timings;
    timings.sampleRate = 8000;
    timings.sentences = {
        voicedSentence(hello, {{"\u201CF", "slt"}, {"she", "en-us"}, {"\u201CN", "slt"}}, 8000,
                       16399),
        sentence("Plain narration.", 16000, 23999),
        voicedSentence(joined, {{"\u201CH", "a&<b>"}, {"\u2014", "en"}}, 32000, 39999)};
    return timings;
}

// Each part's words in a span of its voice, the spaces between voices outside them, a voice
// changing inside a word with nothing between; a sentence without parts names none.
TEST(SubtitleVoices, WebVttSpansSayWhoSpeaksEachWord) {
    EXPECT_EQ(subtitles(voicedTimings(), SubtitleKind::WebVtt, SubtitleVoices::Named),
              "WEBVTT\n\n"
              "00:00:01.000 --> 00:00:02.050\n"
              "<v slt>\u201CFish &amp; chips,\u201D</v> <v en-us>she said.</v> "
              "<v slt>\u201CNow.\u201D</v>\n\n"
              "00:00:02.050 --> 00:00:03.000\n"
              "Plain narration.\n\n"
              "00:00:04.000 --> 00:00:05.000\n"
              "<v a&amp;&lt;b&gt;>\u201CHi\u201D</v><v en>\u2014he said.</v>\n");
}

// Without naming, and in formats with no voice markup, the parts change nothing.
TEST(SubtitleVoices, OtherFormatsAndUnnamedCuesIgnoreTheParts) {
    SpeechTimings unvoiced = voicedTimings();
    for (SentenceTiming& timing : unvoiced.sentences)
        timing.parts.clear();
    for (const SubtitleKind kind : {SubtitleKind::SubRip, SubtitleKind::Lrc})
        EXPECT_EQ(subtitles(voicedTimings(), kind, SubtitleVoices::Named),
                  subtitles(unvoiced, kind));
    EXPECT_EQ(subtitles(voicedTimings(), SubtitleKind::WebVtt),
              subtitles(unvoiced, SubtitleKind::WebVtt));
}

// A sentence cut into cues and lines: each line has whole spans of the voices of its words,
// and ffmpeg's decoder shows the words alone, no markup left in them.
TEST(SubtitleVoices, LongSentenceKeepsTheVoicesOfEachStretch) {
    SpeechTimings timings;
    timings.sampleRate = 8000;
    timings.sentences = {
        voicedSentence(thirtyWords(), {{"word01", "A"}, {"word13", "B"}}, 0, 12000),
        voicedSentence(hello, {{"\u201CF", "slt"}, {"she", "en-us"}, {"\u201CN", "slt"}}, 16000,
                       28000)};
    const std::string vtt = subtitles(timings, SubtitleKind::WebVtt, SubtitleVoices::Named);
    const test::WebVttCheck check = test::checkWebVtt(vtt);
    ASSERT_TRUE(check.valid()) << check.error << "\n" << vtt;
    const std::vector<std::vector<std::string>> lines = {
        {"<v A>word01 word02 word03 word04 word05 word06</v>",
         "<v A>word07 word08 word09 word10</v>"},
        {"<v A>word11 word12</v> <v B>word13 word14 word15 word16</v>",
         "<v B>word17 word18 word19 word20</v>"},
        {"<v B>word21 word22 word23 word24 word25 word26</v>",
         "<v B>word27 word28 word29 word30</v>"}};
    ASSERT_EQ(check.cues.size(), 4u);
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(check.cues[i].lines, lines[i]) << "cue " << i;

    ScratchDir scratch;
    test::writeBytes(scratch / "voiced.vtt", vtt);
    const auto read = wordsReadByFfmpeg(scratch / "voiced.vtt");
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0], wordsOf(thirtyWords()));
    EXPECT_EQ(read[1], wordsOf(hello));
}

} // namespace subtitles_test

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
} // namespace
} // namespace kestrova::speech
