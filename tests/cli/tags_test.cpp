#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

const std::string software = "kestrova-wav-cli " KESTROVA_VERSION;

// The tags libsndfile reads back, by its names.
std::map<std::string, std::string> tagsOf(const fs::path& path) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_READ, &info),
                                                           sf_close);
    std::map<std::string, std::string> tags;
    if (!file)
        return tags;
    const std::pair<const char*, int> types[] = {
        {"title", SF_STR_TITLE},       {"artist", SF_STR_ARTIST},    {"album", SF_STR_ALBUM},
        {"genre", SF_STR_GENRE},       {"date", SF_STR_DATE},        {"comment", SF_STR_COMMENT},
        {"track", SF_STR_TRACKNUMBER}, {"software", SF_STR_SOFTWARE}};
    for (const auto& [name, type] : types)
        if (const char* value = sf_get_string(file.get(), type))
            tags[name] = value;
    return tags;
}

// The INFO list of a wave file, read from its RIFF chunks as any reader would.
std::map<std::string, std::string> riffInfo(const std::string& wave) {
    std::map<std::string, std::string> info;
    const auto word = [&](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, wave.data() + at, 4);
        return value;
    };
    for (std::size_t at = 12; at + 8 <= wave.size(); at += 8 + ((word(at + 4) + 1) & ~1u)) {
        if (wave.compare(at, 4, "LIST") != 0 || wave.compare(at + 8, 4, "INFO") != 0)
            continue;
        const std::size_t end = at + 8 + word(at + 4);
        for (std::size_t item = at + 12; item + 8 <= end; item += 8 + ((word(item + 4) + 1) & ~1u))
            info[wave.substr(item, 4)] = wave.substr(item + 8, word(item + 4)).c_str();
    }
    return info;
}

std::string soxiTags(const fs::path& path) {
    FILE* soxi = ::popen(("soxi -a '" + path.string() + "' 2>&1").c_str(), "r");
    std::string out;
    char buffer[512];
    while (soxi && std::fgets(buffer, sizeof buffer, soxi))
        out += buffer;
    if (soxi)
        ::pclose(soxi);
    // FLAC's keys are in lower case, Vorbis comments' in upper.
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return c < 0x80 ? static_cast<char>(std::tolower(c)) : static_cast<char>(c);
    });
    return out;
}

struct TagCase {
    std::string name;
    std::string output;
    std::string format; // -f
    std::string text;   // the title, artist and the rest carry it
    bool softwareKept;  // LAME writes its own name as the software
};

void PrintTo(const TagCase& entry, std::ostream* out) {
    *out << entry.name;
}

class Tags : public ::testing::TestWithParam<TagCase> {
protected:
    Tags() { test::writeBytes(scratch / "in.txt", "A title in the file.\n"); }
    ScratchDir scratch;
};

TEST_P(Tags, ReadBackInEveryContainer) {
    const TagCase& entry = GetParam();
    const std::string& text = entry.text;
    const Outcome result = test::runProgram(KESTROVA_CLI_PATH, {"convert",   "-q",
                                                                "-e",        "slt",
                                                                "-f",        entry.format,
                                                                "-o",        entry.output,
                                                                "--title",   "Title " + text,
                                                                "--artist",  "Artist " + text,
                                                                "--album",   "Album " + text,
                                                                "--genre",   "Speech",
                                                                "--date",    "2024-05-01",
                                                                "--comment", "Comment " + text,
                                                                "--track",   "3/12",
                                                                "in.txt"},
                                            scratch.path());
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    const fs::path output = scratch / entry.output;
    ASSERT_TRUE(test::readSound(output));
    auto tags = tagsOf(output);
    EXPECT_EQ(tags["title"], "Title " + text);
    EXPECT_EQ(tags["artist"], "Artist " + text);
    EXPECT_EQ(tags["album"], "Album " + text);
    EXPECT_EQ(tags["genre"], "Speech");
    EXPECT_EQ(tags["comment"], "Comment " + text);
    EXPECT_EQ(tags["track"], "3/12");
    // ID3 keeps a year alone.
    EXPECT_TRUE(tags["date"] == "2024-05-01" || tags["date"] == "2024") << tags["date"];
    if (entry.softwareKept) {
        // libsndfile adds its own name after ours.
        EXPECT_TRUE(tags["software"].starts_with(software)) << tags["software"];
    }

    if (entry.output.ends_with(".wav")) {
        auto info = riffInfo(test::readBytes(output));
        EXPECT_EQ(info["INAM"], "Title " + text);
        EXPECT_EQ(info["IART"], "Artist " + text);
        EXPECT_EQ(info["ITRK"], "3/12");
        EXPECT_TRUE(info["ISFT"].starts_with(software)) << info["ISFT"];
    } else if (entry.output.ends_with(".flac") || entry.output.ends_with(".ogg")) {
        const std::string soxi = soxiTags(output);
        for (const std::string& expected :
             {"title=title " + text, "artist=artist " + text, "album=album " + text,
              "comment=comment " + text, std::string("tracknumber=3/12"), "software=" + software})
            EXPECT_NE(soxi.find(expected), std::string::npos) << expected << " in\n" << soxi;
    }
}

const std::string unicode = "Ünïcödé — 日本語 «ok»";

INSTANTIATE_TEST_SUITE_P(Containers, Tags,
                         ::testing::Values(TagCase{"Wave", "x.wav", "22", unicode, true},
                                           TagCase{"Flac", "x.flac", "22", unicode, true},
                                           TagCase{"OggVorbis", "x.ogg", "22", unicode, true},
                                           TagCase{"Opus", "x.opus", "18", unicode, true},
                                           TagCase{"Mp3", "x.mp3", "22", unicode, false}),
                         [](const auto& info) { return info.param.name; });

// With no tag asked for, the file is as it always was: no INFO list, not even the software.
TEST(NoTags, NoInfoList) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "No tags here.\n");
    const Outcome result = test::runProgram(
        KESTROVA_CLI_PATH, {"convert", "-q", "-e", "slt", "in.txt"}, scratch.path());
    ASSERT_EQ(result.exitStatus(), 0) << result.standardError;
    EXPECT_TRUE(riffInfo(test::readBytes(scratch / "in.wav")).empty());
    EXPECT_TRUE(tagsOf(scratch / "in.wav").empty());
}

struct RefusedCase {
    std::string name;
    std::vector<std::string> arguments;
    std::string mentions;
};

void PrintTo(const RefusedCase& entry, std::ostream* out) {
    *out << entry.name;
}

class TagsRefused : public ::testing::TestWithParam<RefusedCase> {};

// A container that cannot hold the tags asked for fails before rendering, leaving nothing.
TEST_P(TagsRefused, FailWithOneLineAndNothingLeft) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "Refused.\n");
    std::vector<std::string> arguments = {"convert", "-q", "-e", "slt"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    arguments.push_back("in.txt");
    const Outcome result = test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    EXPECT_EQ(result.exitStatus(), 1) << result.standardError;
    EXPECT_EQ(test::lineCount(result.standardError), 1u) << result.standardError;
    EXPECT_NE(result.standardError.find(GetParam().mentions), std::string::npos)
        << result.standardError;
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Containers, TagsRefused,
                         test::sweep(RefusedCase{"Mp3StreamBeyondLatin1",
                                                 {"-o", "-", "--type", "mp3", "--artist", "日本語"},
                                                 "Latin-1"},
                                     RefusedCase{"CoverNotAPicture",
                                                 {"-o", "x.mp3", "--cover", "in.txt"},
                                                 "neither a JPEG nor a PNG"},
                                     RefusedCase{"AuStream", {"-o", "-", "--title", "T"}, "AU"}),
                         [](const auto& info) { return info.param.name; });

// ---- a conversion without a sample ----

// The title, the artist and the length, as mutagen reads them: "title|artist|seconds".
const char* const mutagenReadBack = R"(import sys, mutagen
f = mutagen.File(sys.argv[1], easy=True)
tags = f.tags or {}
def tag(easy, id3):
    if id3 in tags: return str(tags[id3])
    return tags[easy][0] if easy in tags else ''
print('%s|%s|%.2f' % (tag('title', 'TIT2'), tag('artist', 'TPE1'), f.info.length))
)";

struct EmptyCase {
    std::string name;
    std::string ending;
    std::vector<std::string> type;    // --type, where the ending does not choose it
    std::vector<std::string> checker; // the container's own checker; the file is added
    bool tagged;                      // the container holds tags (mutagen reads them)
    double seconds;                   // what a file of no sample holds
};

void PrintTo(const EmptyCase& entry, std::ostream* out) {
    *out << entry.name;
}

class EmptySound : public ::testing::TestWithParam<EmptyCase> {
protected:
    EmptySound() {
        test::writeBytes(scratch / "empty.txt", "");
        test::writeBytes(scratch / "code.md", "```\nint main() {}\n```\n");
    }

    Outcome convert(const std::string& input, const std::string& output,
                    std::vector<std::string> more) const {
        std::vector<std::string> arguments = {"convert", "-q", "-e", "slt", "-o", output};
        arguments.insert(arguments.end(), GetParam().type.begin(), GetParam().type.end());
        arguments.insert(arguments.end(), more.begin(), more.end());
        arguments.push_back(input);
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
    }

    Outcome run(const std::string& program, const std::vector<std::string>& arguments) const {
        return test::runProgram(program, arguments, scratch.path());
    }

    // ffprobe's length of the sound; raw PCM's by its size (22.05 kHz 16-bit mono).
    double secondsOf(const std::string& file) const {
        if (GetParam().ending == ".raw")
            return static_cast<double>(fs::file_size(scratch / file)) / (2 * 22050);
        const Outcome probed =
            run("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                     "stream=duration", "-of", "csv=p=0", file});
        EXPECT_EQ(probed.exitStatus(), 0) << probed.standardError;
        try {
            return std::stod(probed.standardOutput);
        } catch (const std::exception&) {
            ADD_FAILURE() << file << " has no length: " << probed.standardOutput;
            return -1.0;
        }
    }

    ScratchDir scratch;
};

// An empty text has no sample to speak: it is a file its container's checker, ffprobe and
// mutagen take, the tags in it. A Markdown file of a code block alone (code is not read
// aloud) has nothing to read, and is refused before any file is made.
TEST_P(EmptySound, IsAFileTheReadersTakeWithItsTags) {
    const EmptyCase& entry = GetParam();
    const std::string file = "none" + entry.ending;
    const std::vector<std::string> tags =
        entry.tagged ? std::vector<std::string>{"--title", unicode, "--artist", "Nobody"}
                     : std::vector<std::string>{};
    const Outcome made = convert("empty.txt", file, tags);
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    EXPECT_EQ(made.standardError, "");
    EXPECT_EQ(convert("code.md", "code" + entry.ending, tags).exitStatus(), 1);
    EXPECT_FALSE(fs::exists(scratch / ("code" + entry.ending)));
    EXPECT_NEAR(secondsOf(file), entry.seconds, 0.06);

    if (!entry.checker.empty()) {
        std::vector<std::string> checker = entry.checker;
        const std::string program = checker.front();
        checker.erase(checker.begin());
        checker.push_back(file);
        const Outcome checked = run(program, checker);
        EXPECT_EQ(checked.exitStatus(), 0) << checked.standardOutput << checked.standardError;
        // mp3val's count of frames is a guess at whether a file is MP3 at all: a tenth of a
        // second is fewer frames than it looks for.
        std::istringstream report(checked.standardOutput + checked.standardError);
        for (std::string line; std::getline(report, line);) {
            if (line.find("Too few MPEG frames") != std::string::npos)
                continue;
            for (const char* problem : {"WARN", "Warn", "ERROR", "Error", "buggy", "is empty"})
                EXPECT_EQ(line.find(problem), std::string::npos) << line;
        }
    }
    if (entry.ending != ".raw") {
        const Outcome streams =
            run("/usr/bin/ffprobe",
                {"-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", file});
        EXPECT_EQ(streams.standardOutput, "audio\n") << streams.standardError;
    } else {
        EXPECT_EQ(fs::file_size(scratch / file), 0u);
    }
    if (entry.tagged) {
        const Outcome read = run("/usr/bin/python3", {"-c", mutagenReadBack, file});
        ASSERT_EQ(read.exitStatus(), 0) << read.standardError;
        const std::string title = read.standardOutput.substr(0, read.standardOutput.find('|'));
        EXPECT_EQ(title, unicode);
        EXPECT_NE(read.standardOutput.find("|Nobody|"), std::string::npos) << read.standardOutput;
    }
}

// Split into chapters, a text without sound is one file holding the lead-in and the tail it
// holds unsplit: the same length.
TEST_P(EmptySound, SplitHoldsTheLeadInAndTailAsUnsplit) {
    const std::vector<std::string> roomTone = {"--lead-in", "600", "--tail", "1500"};
    ASSERT_EQ(convert("empty.txt", "whole" + GetParam().ending, roomTone).exitStatus(), 0);
    std::vector<std::string> split = roomTone;
    split.push_back("--split-chapters");
    const Outcome made = convert("empty.txt", "part" + GetParam().ending, split);
    ASSERT_EQ(made.exitStatus(), 0) << made.standardError;
    const std::string part = "part-00" + GetParam().ending;
    const double seconds = secondsOf(part);
    EXPECT_NEAR(seconds, 2.1, 0.07);
    EXPECT_DOUBLE_EQ(seconds, secondsOf("whole" + GetParam().ending));
}

INSTANTIATE_TEST_SUITE_P(
    Containers, EmptySound,
    test::sweep(EmptyCase{"Wave", ".wav", {}, {}, true, 0.0},
                EmptyCase{"Au", ".au", {"--type", "au"}, {}, false, 0.0},
                EmptyCase{"Raw", ".raw", {"--type", "raw"}, {}, false, 0.0},
                EmptyCase{"Flac", ".flac", {}, {"/usr/bin/flac", "-t", "-s"}, true, 0.1},
                EmptyCase{"OggVorbis", ".ogg", {}, {"/usr/bin/ogginfo"}, true, 0.1},
                EmptyCase{"Opus", ".opus", {}, {"/usr/bin/opusinfo"}, true, 0.1},
                EmptyCase{"Mp3", ".mp3", {}, {"/usr/bin/mp3val"}, true, 0.1},
                EmptyCase{"M4b", ".m4b", {}, {}, true, 0.1},
                EmptyCase{"M4a", ".m4a", {}, {}, true, 0.1}),
    [](const auto& info) { return info.param.name; });

// A tag option whose value is not UTF-8 is bad usage before anything is rendered, named in one
// line with the value quoted as the shell reads it back, whatever the container (it was
// written as raw bytes into M4B and Ogg, and left out of MP3 and FLAC).
TEST(TagsNotUtf8, AreBadUsageNamingTheOptionAndTheValue) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "Refused.\n");
    const std::string notUtf8 = "caf\xE9 \xFF";
    const char* const endings[] = {".m4b", ".ogg", ".mp3", ".flac", ".wav", ".opus", ".m4b"};
    const char* const options[] = {"--title", "--artist",  "--album", "--genre",
                                   "--date",  "--comment", "--track"};
    for (std::size_t i = 0; i < std::size(options); ++i) {
        const Outcome result = test::runProgram(KESTROVA_CLI_PATH,
                                                {"convert", "-q", "-e", "slt", options[i], notUtf8,
                                                 "-o", std::string("out") + endings[i], "in.txt"},
                                                scratch.path());
        EXPECT_EQ(result.exitStatus(), 2) << options[i] << result.standardError;
        EXPECT_EQ(result.standardError, std::string("kestrova-wav-cli: ") + options[i] +
                                            " 'caf'$'\\351'' '$'\\377' is not UTF-8: a tag is "
                                            "written as UTF-8 text\n");
    }
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt"}));
}

} // namespace
} // namespace kestrova::cli
