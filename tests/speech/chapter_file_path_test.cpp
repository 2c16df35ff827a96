#include "speech/conversion/chapters/chapter_file_path.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrova::speech {
namespace {

struct NameCase {
    const char* output;
    unsigned number;
    std::string title;
    unsigned highestNumber;
    const char* expected;
};

void PrintTo(const NameCase& entry, std::ostream* out) {
    *out << entry.expected;
}

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

const NameCase nameCases[] = {
    {"book.wav", 1, "Chapter 1: The Harbour", 0, "book-01-Chapter_1_The_Harbour.wav"},
    {"out/my.book.flac", 2, "Chapter Two", 5, "out/my.book-02-Chapter_Two.flac"},
    {"book.wav", 0, "", 0, "book-00.wav"},
    {"book.wav", 3, "?!… ---", 0, "book-03.wav"},
    {"book", 4, "Epilogue", 0, "book-04-Epilogue"},
    {"book.wav", 7, "../../etc/passwd", 0, "book-07-etc_passwd.wav"},
    {"book.wav", 8, ".hidden", 0, "book-08-hidden.wav"},
    {"book.wav", 9, "-rf", 0, "book-09-rf.wav"},
    {"book.wav", 10, "  Part\tOne\nThe\x01 Storm\x7f  ", 0, "book-10-Part_One_The_Storm.wav"},
    {"book.wav", 11, "The Sailor's Song", 0, "book-11-The_Sailors_Song.wav"},
    {"book.wav", 12, "Глава 12. Прибытие", 0, "book-12-Глава_12_Прибытие.wav"},
    {"book.wav", 13, "第十三章「港」", 0, "book-13-第十三章_港.wav"},
    {"book.wav", 14, "Ça ira: élan, cœur", 0, "book-14-Ça_ira_élan_cœur.wav"},
    {"book.wav", 5, "Five", 120, "book-005-Five.wav"},
    {"book.wav", 100, "A Hundred", 0, "book-100-A_Hundred.wav"},
    {"book.wav", 1, "a:b*c?d\"e<f>g|h\\i", 0, "book-01-a_b_c_d_e_f_g_h_i.wav"},
};

class ChapterFilePath : public ::testing::TestWithParam<NameCase> {};

TEST_P(ChapterFilePath, IsNameNumberAndASafeTitle) {
    const NameCase& entry = GetParam();
    EXPECT_EQ(
        chapterFilePath(entry.output, entry.number, entry.title, entry.highestNumber).string(),
        entry.expected);
}

INSTANTIATE_TEST_SUITE_P(Titles, ChapterFilePath, ::testing::ValuesIn(nameCases));

TEST(ChapterFilePathLength, ALongTitleIsCutToEightyBytesAtACharacter) {
    const std::string name =
        chapterFilePath("book.wav", 1, repeated("Ωμέγα ", 40)).filename().string();
    ASSERT_TRUE(name.starts_with("book-01-") && name.ends_with(".wav")) << name;
    const std::string title = name.substr(8, name.size() - 12);
    EXPECT_LE(title.size(), 80u);
    EXPECT_GE(title.size(), 75u);
    EXPECT_TRUE(test::isValidUtf8(title)) << title;
    EXPECT_NE(title.back(), '_');
}

TEST(ChapterFilePathLength, TheWholeNameStaysWithinWhatAFileSystemTakes) {
    const std::string output = repeated("n", 240) + ".wav";
    const std::string name = chapterFilePath(output, 1, repeated("Title ", 20)).string();
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(name.starts_with(repeated("n", 240) + "-01")) << name;
}

} // namespace
} // namespace kestrova::speech
