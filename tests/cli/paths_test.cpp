// Every path of a conversion, checked as one set before anything is rendered or created.

#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <signal.h>
#include <string>
#include <sys/inotify.h>
#include <vector>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
using test::Snapshot;
namespace fs = std::filesystem;

constexpr std::string_view text = "One. Two. Three.\n";
constexpr std::string_view book = "A word first.\n\nChapter 1\n\nBoats rocked.\n\n"
                                  "Chapter 2\n\nThe keeper climbed.\n";

// Through a shell, so that a case can redirect standard output as a user would.
Outcome runInShell(const ScratchDir& scratch, const std::string& command) {
    return test::runProgram("/bin/sh", {"-c", "cli=\"$0\"; " + command, KESTROVA_CLI_PATH},
                            scratch.path());
}

struct ClashCase {
    const char* name;
    const char* setup; // shell commands run first
    const char* command;
    std::vector<std::string> says; // the two options, and the file
};

class Clash : public ::testing::TestWithParam<ClashCase> {};

// Each of these replaced a file and exited 0; now bad usage, one line, every file as it was.
TEST_P(Clash, IsBadUsageAndTouchesNothing) {
    ScratchDir scratch;
    test::writeBytes(scratch / "t.txt", text);
    ASSERT_EQ(runInShell(scratch, GetParam().setup).exitStatus(), 0);
    const Snapshot before = test::snapshot(scratch.path());
    const Outcome result =
        runInShell(scratch, std::string("\"$cli\" convert -q -e slt -f 22 ") + GetParam().command);
    EXPECT_EQ(result.exitStatus(), 2) << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    for (const std::string& word : GetParam().says)
        EXPECT_NE(result.standardError.find(word), std::string::npos) << result.standardError;
    EXPECT_EQ(test::snapshot(scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Commands, Clash,
                         test::sweep(ClashCase{"SoundAndTimings",
                                               ":",
                                               "-o a.wav --timings a.wav t.txt",
                                               {"-o", "--timings", "\"a.wav\""}},
                                     ClashCase{"TimingsOverInput",
                                               "cp t.txt b.txt",
                                               "-o b.wav --timings b.txt b.txt",
                                               {"INPUT", "--timings", "\"b.txt\""}},
                                     ClashCase{"SubtitlesOverInput",
                                               "cp t.txt c.srt",
                                               "-o c.wav --subtitles c.srt c.srt",
                                               {"INPUT", "--subtitles", "\"c.srt\""}},
                                     ClashCase{"SoundAndCueSheet",
                                               ":",
                                               "-o d.cue --cue-sheet d.cue t.txt",
                                               {"-o", "--cue-sheet", "\"d.cue\""}},
                                     ClashCase{"TimingsAndSubtitles",
                                               ":",
                                               "-o e.wav --timings e.srt --subtitles e.srt t.txt",
                                               {"--timings", "--subtitles", "\"e.srt\""}},
                                     ClashCase{"ThroughADanglingLink",
                                               "ln -s f.wav f.json",
                                               "-o f.wav --timings f.json t.txt",
                                               {"-o", "--timings", "\"f.json\""}},
                                     ClashCase{"ThroughALinkToTheInput",
                                               "ln -s t.txt g.json",
                                               "-o g.wav --timings g.json t.txt",
                                               {"INPUT", "--timings", "\"g.json\""}},
                                     ClashCase{"DefaultSoundAndTimings",
                                               ":",
                                               "--timings t.wav t.txt",
                                               {"sound file", "--timings", "\"t.wav\""}},
                                     ClashCase{"LexiconAsTimings",
                                               "cp t.txt n.lex",
                                               "--lexicon n.lex --timings n.lex t.txt",
                                               {"--lexicon", "--timings", "\"n.lex\""}},
                                     ClashCase{"StandardOutputIsTheTimings",
                                               ": > out.au",
                                               "-o - --timings out.au t.txt > out.au",
                                               {"standard output", "--timings", "\"out.au\""}},
                                     ClashCase{"ChapterFileOverInput",
                                               "cp t.txt notes-00.txt",
                                               "--split-chapters -o notes.txt notes-00.txt",
                                               {"INPUT", "--split-chapters", "\"notes-00.txt\""}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Standard output's own file is compared, not its name: a pipe clashes with nothing.
TEST(Paths, StandardOutputIntoAPipeIsFine) {
    ScratchDir scratch;
    test::writeBytes(scratch / "t.txt", text);
    const Outcome result = test::runProgram(
        KESTROVA_CLI_PATH,
        {"convert", "-q", "-e", "slt", "-o", "-", "--timings", "t.json", "t.txt"}, scratch.path());
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    // No file holds the sound: the timings name none.
    EXPECT_NE(test::readBytes(scratch / "t.json").find("\"sound_file\": null"), std::string::npos);
}

// Each --lexicon takes one file: the INPUT after it stays the input, and a second --lexicon
// is read too.
TEST(Paths, EachLexiconTakesOneFile) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", text);
    test::writeBytes(scratch / "names.txt", "One = Won\n");
    test::writeBytes(scratch / "bad.txt", "no equals sign here\n");
    const auto convert = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"convert", "-q", "-e", "slt"});
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    };
    const Outcome one = convert({"--lexicon", "names.txt", "book.txt"});
    EXPECT_EQ(one.exitStatus(), 0) << one.standardError;
    EXPECT_TRUE(fs::exists(scratch / "book.wav"));
    const Outcome two =
        convert({"--lexicon", "names.txt", "--lexicon", "bad.txt", "-o", "x.wav", "book.txt"});
    EXPECT_EQ(two.exitStatus(), 1) << two.standardError;
    EXPECT_NE(two.standardError.find("bad.txt"), std::string::npos) << two.standardError;
    // A single-value option takes one value: the word after a title is an input.
    const Outcome title = convert({"--title", "T", "missing.txt", "book.txt"});
    EXPECT_EQ(title.exitStatus(), 1) << title.standardError;
    EXPECT_NE(title.standardError.find("\"missing.txt\""), std::string::npos);
}

struct EarlyCase {
    const char* name;
    const char* setup;
    const char* command;
    int status;
    const char* says;
};

class KnownBeforeRendering : public ::testing::TestWithParam<EarlyCase> {};

// Found before any sound is made: the sound file (or chapter file) that would have been
// written first is not there, and every file is as it was.
TEST_P(KnownBeforeRendering, FailsBeforeAnySound) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    ASSERT_EQ(runInShell(scratch, GetParam().setup).exitStatus(), 0);
    const Snapshot before = test::snapshot(scratch.path());
    const Outcome result =
        runInShell(scratch, std::string("\"$cli\" convert -q -e slt -f 22 ") + GetParam().command);
    EXPECT_EQ(result.exitStatus(), GetParam().status) << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_NE(result.standardError.find(GetParam().says), std::string::npos)
        << result.standardError;
    EXPECT_EQ(test::snapshot(scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, KnownBeforeRendering,
    test::sweep(EarlyCase{"NoClobberTimings", "echo old > b.json", "-n --timings b.json book.txt",
                          1, "\"b.json\": a file is already there"},
                EarlyCase{"NoClobberSubtitles", "echo old > b.srt", "-n --subtitles b.srt book.txt",
                          1, "\"b.srt\": a file is already there"},
                EarlyCase{"NoClobberCueSheet", "echo old > b.cue", "-n --cue-sheet b.cue book.txt",
                          1, "\"b.cue\": a file is already there"},
                EarlyCase{"NoClobberLastChapter", "echo old > b-02-Chapter_2.wav",
                          "-n --split-chapters -o b.wav book.txt", 1,
                          "\"b-02-Chapter_2.wav\": a file is already there"},
                // Named by their kind, a FLAC chapter file is no wave file.
                EarlyCase{
                    "NoClobberFlacChapter", "echo old > b-02-Chapter_2.flac",
                    "-n --split-chapters -o b.flac book.txt", 1,
                    "cannot write the FLAC file \"b-02-Chapter_2.flac\": a file is already there"},
                EarlyCase{"TimingsInAMissingFolder", ":", "--timings nowhere/b.json book.txt", 1,
                          "nowhere/b.json"},
                EarlyCase{"AHundredTracks",
                          "for i in $(seq 1 100); do printf 'Chapter %s\\n\\n' $i; done > many.txt",
                          "--cue-sheet m.cue -o m.wav many.txt", 1, "at most 99 tracks"},
                EarlyCase{"CueSheetCannotQuoteTheName", ":",
                          "--cue-sheet q.cue -o 'say \"hi\".wav' book.txt", 2, "double quote"}),
    [](const auto& info) { return std::string(info.param.name); });

// Split into chapters, the timings name each chapter's file, every one of which exists, and
// no single sound file.
TEST(Paths, SplitTimingsNameFilesThatExist) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    fs::create_directory(scratch / "t");
    const Outcome result =
        test::runProgram(KESTROVA_CLI_PATH,
                         {"convert", "-q", "-e", "slt", "--split-chapters", "--timings",
                          "t/book.json", "-o", "part.wav", "book.txt"},
                         scratch.path());
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    const std::string json = test::readBytes(scratch / "t/book.json");
    EXPECT_NE(json.find("\"sound_file\": null"), std::string::npos) << json;
    const std::regex named("\"sound_file\": \"([^\"]+)\"");
    std::vector<std::string> files;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), named);
         it != std::sregex_iterator(); ++it)
        files.push_back((*it)[1]);
    EXPECT_EQ(files, (std::vector<std::string>{"../part-00.wav", "../part-01-Chapter_1.wav",
                                               "../part-02-Chapter_2.wav"}));
    for (const std::string& file : files)
        EXPECT_TRUE(fs::exists(scratch / "t" / file)) << file;
}

// Where the file system has no unnamed files, each chapter waits under its hidden temporary
// name from the start: named all the same, nothing hidden left over.
TEST(Paths, SplitWithoutUnnamedFiles) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    test::writeBytes(scratch / "part-01-Chapter_1.wav", "old");
    test::ProgramSetup setup;
    setup.withoutUnnamedFiles = true;
    const Outcome result = test::runProgram(
        KESTROVA_CLI_PATH,
        {"convert", "-q", "-e", "slt", "--split-chapters", "-o", "part.wav", "book.txt"},
        scratch.path(), setup);
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_EQ(scratch.names(),
              (std::vector<std::string>{"book.txt", "part-00.wav", "part-01-Chapter_1.wav",
                                        "part-02-Chapter_2.wav"}));
    EXPECT_TRUE(test::soundInfo(scratch / "part-01-Chapter_1.wav"));
}

// 1,100 chapters (a Bible has 1,189) under a limit of 1,024 descriptors: each chapter's file
// is closed once complete, and all are named, with nothing hidden left over.
TEST(Paths, ElevenHundredChaptersUnderADescriptorLimit) {
    ScratchDir scratch;
    std::string many;
    for (int i = 1; i <= 1100; ++i)
        many += "Chapter " + std::to_string(i) + "\n\n";
    test::writeBytes(scratch / "many.txt", many);
    fs::create_directory(scratch / "out");
    const Outcome result = runInShell(
        scratch, "ulimit -n 1024 && exec \"$cli\" convert -q -e 'eSpeak NG English (America)' "
                 "-f 22 --split-chapters "
                 "-o out/m.au many.txt");
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    const std::vector<std::string> names = scratch.names("out");
    ASSERT_EQ(names.size(), 1100u);
    EXPECT_EQ(names.front(), "m-0001-Chapter_1.au");
    EXPECT_EQ(names.back(), "m-1100-Chapter_1100.au");
    EXPECT_TRUE(test::leftoverParts(scratch / "out").empty());
}

// Waits for the first file to take a visible name in the folder; false if the program ended
// first.
bool waitForFirstName(test::RunningProgram& program, int watch) {
    alignas(inotify_event) char buffer[4096];
    while (!program.ended()) {
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        const ssize_t got = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && event->name[0] != '.')
                return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

// SIGTERM the moment the new set starts taking its names: the old set comes back whole
// (status 143); if the naming was already done, the new set is whole. Never a mix, and
// nothing hidden left but the chunks kept for the next run.
TEST(Paths, StopSignalWhileChaptersAreNamed) {
    ScratchDir scratch;
    std::string many;
    for (int i = 1; i <= 400; ++i)
        many += "Chapter " + std::to_string(i) + "\n\n";
    test::writeBytes(scratch / "many.txt", many);
    fs::create_directory(scratch / "out");
    const std::vector<std::string> arguments{"convert",
                                             "-q",
                                             "-e",
                                             "eSpeak NG English (America)",
                                             "-f",
                                             "22",
                                             "--split-chapters",
                                             "-o",
                                             "out/m.au",
                                             "many.txt"};
    ASSERT_EQ(test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path()).exitStatus(), 0);
    const Snapshot old = test::snapshot(scratch / "out");
    ASSERT_EQ(old.size(), 400u);
    // Made different, so that the new set tells itself from the old.
    for (const auto& [name, content] : old)
        test::writeBytes(scratch / "out" / name, "old");

    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, (scratch / "out").c_str(), IN_MOVED_TO), 0);
    test::RunningProgram cli(KESTROVA_CLI_PATH, arguments, scratch.path());
    const bool naming = waitForFirstName(cli, watch);
    if (naming)
        ::kill(cli.pid(), SIGTERM);
    ::close(watch);
    const Outcome result = cli.wait();
    ASSERT_TRUE(naming) << result.standardError;
    const Snapshot after = test::withoutResumeFolders(test::snapshot(scratch / "out"));
    ASSERT_EQ(after.size(), 400u) << "hidden files left, or chapters lost";
    const auto olds = std::count_if(after.begin(), after.end(),
                                    [](const auto& entry) { return entry.second == "old"; });
    if (result.exitStatus() == 143) {
        EXPECT_EQ(olds, 400) << "a set part new, part old";
    } else {
        EXPECT_EQ(result.exitStatus(), 0) << result.standardError;
        EXPECT_EQ(olds, 0) << "a set part new, part old";
    }
}

} // namespace
} // namespace kestrova::cli
