// Sentences of every script, as the timings and subtitles of the command line give them.

#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

// The sentence texts of a timings file, read back by Python's JSON parser, one a line.
std::vector<std::string> timedSentences(const fs::path& json) {
    test::ProgramSetup setup;
    setup.environment = {{"PYTHONIOENCODING", "utf-8"}};
    const Outcome read =
        test::runProgram("/usr/bin/python3",
                         {"-c",
                          "import json, sys\n"
                          "print('\\n'.join(s['text'] for s in json.load(open(sys.argv[1], "
                          "encoding='utf-8'))['sentences']))",
                          json.string()},
                         json.parent_path(), setup);
    EXPECT_EQ(read.exitStatus(), 0) << read.standardError;
    std::vector<std::string> sentences;
    std::istringstream lines(read.standardOutput);
    for (std::string line; std::getline(lines, line);)
        sentences.push_back(line);
    return sentences;
}

// The text of each cue of a SubRip file, its lines joined by a space.
std::vector<std::string> cueTexts(const std::string& srt) {
    std::vector<std::string> cues;
    std::istringstream lines(srt);
    int lineOfCue = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            lineOfCue = 0;
            continue;
        }
        if (++lineOfCue == 3)
            cues.push_back(line);
        else if (lineOfCue > 3)
            cues.back() += " " + line;
    }
    return cues;
}

struct ScriptText {
    const char* voice;
    std::vector<std::string> sentences;
    const char* between; // what the script puts between two sentences
};

// Each voice's sentences come out of the timings and the subtitles as the text's own:
// Chinese and Japanese end at 。！？ without a space, Hindi at ।, Arabic at ؟, Thai at an
// ASCII mark with no space after it, English as ever.
TEST(Sentences, OfEveryScriptAreTimedAndSubtitled) {
    const ScriptText texts[] = {
        {"cmn", {"今天天气很好。", "我们去公园散步吧！", "你觉得怎么样？"}, ""},
        {"ja", {"今日はいい天気です。", "公園に行きましょう！", "どう思いますか？"}, ""},
        {"hi", {"आज मौसम अच्छा है।", "चलो पार्क चलते हैं!"}, " "},
        {"ar", {"هل تريد أن تذهب إلى الحديقة؟", "هيا بنا!"}, " "},
        {"th", {"ไปกันเถอะ!", "แมวกินปลา"}, ""},
        {"en-us", {"Hello there.", "How are you?", "Fine!"}, " "},
    };
    for (const ScriptText& text : texts) {
        ScratchDir scratch;
        std::string input;
        for (const std::string& sentence : text.sentences)
            input += (input.empty() ? "" : text.between) + sentence;
        test::writeBytes(scratch / "text.txt", input + "\n");
        const Outcome result =
            test::runProgram(KESTROVA_CLI_PATH,
                             {"convert", "-q", "-e", text.voice, "--timings", "text.json",
                              "--subtitles", "text.srt", "-o", "text.wav", "text.txt"},
                             scratch.path());
        ASSERT_EQ(result.exitStatus(), 0) << text.voice << ": " << result.standardError;
        EXPECT_EQ(timedSentences(scratch / "text.json"), text.sentences) << text.voice;
        EXPECT_EQ(cueTexts(test::readBytes(scratch / "text.srt")), text.sentences) << text.voice;
    }
}

} // namespace
} // namespace kestrova::cli
