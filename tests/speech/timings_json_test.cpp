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
} // namespace
} // namespace kestrova::speech
