#include "speech/speech_error.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

using namespace std::string_literals;
using test::ScratchDir;

std::string readAll(TextFileReader& reader) {
    std::string text;
    std::string piece = "left from before";
    int pieces = 0;
    while (reader.read(piece)) {
        text += piece;
        EXPECT_LT(++pieces, 100000) << "the reader never ends";
    }
    EXPECT_TRUE(piece.empty()) << "the last read kept an earlier piece";
    EXPECT_FALSE(reader.read(piece)) << "a read after the end gave more";
    return text;
}

std::string repeat(std::string_view piece, std::size_t bytes) {
    std::string out;
    while (out.size() < bytes)
        out += piece;
    return out;
}

std::string utf16le(std::string_view ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

struct FileCase {
    std::string name;
    std::string bytes;
    TextEncoding requested;
    TextEncoding encoding;
    std::uint64_t characters;
    std::string text;
};

void PrintTo(const FileCase& entry, std::ostream* out) {
    *out << entry.name;
}

class ReadTextFile : public ::testing::TestWithParam<FileCase> {
protected:
    ScratchDir scratch;
};

TEST_P(ReadTextFile, SettlesTheEncodingCountsAndDecodes) {
    const auto path = scratch / "input.txt";
    test::writeBytes(path, GetParam().bytes);
    TextFileReader reader(path, GetParam().requested);
    EXPECT_EQ(reader.encoding(), GetParam().encoding) << encodingName(reader.encoding());
    EXPECT_EQ(reader.totalCharacters(), GetParam().characters);
    const std::string text = readAll(reader);
    EXPECT_EQ(text.size(), GetParam().text.size());
    EXPECT_TRUE(text == GetParam().text) << "the decoded text differs";
}

// Sizes around the reader's 64 KiB pieces, where a piece boundary splits characters.
constexpr std::size_t piece = 1 << 16;

INSTANTIATE_TEST_SUITE_P(
    Table, ReadTextFile,
    ::testing::Values(
        FileCase{"Empty", "", TextEncoding::Automatic, TextEncoding::Utf8, 0, ""},
        FileCase{"Utf8", "H\xC3\xA9llo", TextEncoding::Automatic, TextEncoding::Utf8, 5,
                 "H\xC3\xA9llo"},
        FileCase{"Utf8WithMark", "\xEF\xBB\xBFH\xC3\xA9", TextEncoding::Automatic,
                 TextEncoding::Utf8, 2, "H\xC3\xA9"},
        FileCase{"Utf8MarkWithUtf8Requested", "\xEF\xBB\xBFok", TextEncoding::Utf8,
                 TextEncoding::Utf8, 2, "ok"},
        FileCase{"Windows1252", "caf\xE9 \x93x\x94", TextEncoding::Automatic,
                 TextEncoding::Windows1252, 8, "caf\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D"},
        FileCase{"Windows1252Requested", "H\xC3\xA9", TextEncoding::Windows1252,
                 TextEncoding::Windows1252, 3, "H\xC3\x83\xC2\xA9"},
        FileCase{"Utf16LEWithMark", "\xFF\xFEH\0\xE9\0"s, TextEncoding::Automatic,
                 TextEncoding::Utf16LE, 2, "H\xC3\xA9"},
        FileCase{"Utf16BEWithMark", "\xFE\xFF\0H\0\xE9"s, TextEncoding::Automatic,
                 TextEncoding::Utf16BE, 2, "H\xC3\xA9"},
        FileCase{"Utf32LEWithMark", "\xFF\xFE\0\0H\0\0\0\xE9\0\0\0"s, TextEncoding::Automatic,
                 TextEncoding::Utf32LE, 2, "H\xC3\xA9"},
        FileCase{"Utf32BEWithMark", "\0\0\xFE\xFF\0\0\0H\0\0\0\xE9"s, TextEncoding::Automatic,
                 TextEncoding::Utf32BE, 2, "H\xC3\xA9"},
        FileCase{"Utf16LEWithoutMark", utf16le("Hello there."), TextEncoding::Automatic,
                 TextEncoding::Utf16LE, 12, "Hello there."},
        FileCase{"Utf16LERequested", utf16le("ok"), TextEncoding::Utf16LE, TextEncoding::Utf16LE, 2,
                 "ok"},
        FileCase{"ControlsBecomeSpaces",
                 "a\0b\tc\x1F"
                 "d"s,
                 TextEncoding::Automatic, TextEncoding::Utf8, 7, "a b c d"},
        FileCase{"LargeUtf8AcrossPieces", repeat("\xE2\x82\xAC\xC3\xA9z", 3 * piece + 5),
                 TextEncoding::Automatic, TextEncoding::Utf8, (3 * piece + 5 + 5) / 6 * 3,
                 repeat("\xE2\x82\xAC\xC3\xA9z", 3 * piece + 5)},
        FileCase{"LargeUtf8WithALateInvalidByte", repeat("abc", 2 * piece) + "\xE9z",
                 TextEncoding::Automatic, TextEncoding::Windows1252, 2 * piece + 3,
                 repeat("abc", 2 * piece) + "\xC3\xA9z"},
        FileCase{"Windows1252AccentAtTheVeryEnd", "Hello Jos\xE9", TextEncoding::Automatic,
                 TextEncoding::Windows1252, 10, "Hello Jos\xC3\xA9"},
        FileCase{"LargeUtf16LEAcrossPieces", "\xFF\xFE" + repeat("\xAC\x20"s + "z\0"s, 3 * piece),
                 TextEncoding::Automatic, TextEncoding::Utf16LE, 3 * piece / 2,
                 repeat("\xE2\x82\xACz", 3 * piece)}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return info.param.name; });

TEST(TextFileReader, AMissingFileThrowsNamingIt) {
    ScratchDir scratch;
    const auto path = scratch / "no such file.txt";
    try {
        TextFileReader reader(path);
        FAIL() << "a missing file was opened";
    } catch (const SpeechError& error) {
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
    }
}

TEST(TextFileReader, AFolderThrowsNamingIt) {
    ScratchDir scratch;
    const auto path = scratch / "folder.txt";
    std::filesystem::create_directory(path);
    try {
        TextFileReader reader(path);
        std::string text;
        while (reader.read(text)) {
        }
        FAIL() << "a folder was read as a text";
    } catch (const SpeechError& error) {
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
    }
}

TEST(TextFileReader, AnUnreadableFileThrowsNamingIt) {
    if (test::runningAsRoot())
        GTEST_SKIP() << "root reads any file";
    ScratchDir scratch;
    const auto path = scratch / "secret.txt";
    test::writeBytes(path, "text");
    ::chmod(path.c_str(), 0);
    try {
        TextFileReader reader(path);
        FAIL() << "an unreadable file was opened";
    } catch (const SpeechError& error) {
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
    }
}

} // namespace
} // namespace kestrova::speech
