// The script a text is written in, by its letters: what chooses a voice where a document
// names no language.

#include "speech/text/script/writing_script.h"

#include <gtest/gtest.h>

namespace kestrova::speech {
namespace writing_script_test {

std::optional<WritingScript> scriptOf(std::string_view text) {
    ScriptTally tally;
    tally.add(text);
    return tally.dominant();
}

TEST(WritingScript, MostLettersDecideAndOnlyLettersCount) {
    EXPECT_EQ(scriptOf("这是中文。").value().language, "cmn");
    EXPECT_EQ(scriptOf("Это текст 2024, «да».").value().name, "Cyrillic");
    EXPECT_EQ(scriptOf("धर्मक्षेत्रे कुरुक्षेत्रे").value().language, "hi");
    // Digits, punctuation and marks are no script's: four Greek letters outweigh them all.
    EXPECT_EQ(scriptOf("1234567890 ... !!! ΑΒΓΔ").value().language, "el");
    // Latin is the chosen voice's own; none at all decides nothing.
    EXPECT_FALSE(scriptOf("Plain English with one name, 北京.").has_value());
    EXPECT_FALSE(scriptOf("12 34 -- ??").has_value());
}

// Japanese writes mostly kanji with kana among them; a Chinese text may quote a Japanese
// word in katakana and stays Chinese.
TEST(WritingScript, KanaAmongHanMakeJapaneseAndHangulKorean) {
    const auto japanese = scriptOf("東京都新宿区西新宿の高層ビル街を歩きました");
    ASSERT_TRUE(japanese);
    EXPECT_EQ(japanese->language, "ja");
    EXPECT_EQ(japanese->name, "Han and kana");
    EXPECT_EQ(scriptOf("カタカナだけ").value().language, "ja");
    const auto chinese = scriptOf("我们昨天在北京的一家餐馆吃了很多好吃的饭菜和点心还有"
                                  "一杯茶叫做ラテ");
    ASSERT_TRUE(chinese);
    EXPECT_EQ(chinese->language, "cmn");
    EXPECT_EQ(scriptOf("대한민국 韓國").value().language, "ko");
}

} // namespace writing_script_test
} // namespace kestrova::speech
