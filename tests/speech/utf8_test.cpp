#include "speech/base/utf8.h"

#include <gtest/gtest.h>
#include <string>
#include <unicode/utf8.h>

namespace kestrova::speech {
namespace {

// ICU's strict decoder is the oracle: what it refuses is no character.
void expectAgreesWithIcu(const std::string& bytes) {
    std::int32_t length = 0;
    UChar32 value = 0;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    U8_NEXT(data, length, static_cast<std::int32_t>(bytes.size()), value);
    const CodePoint decoded = codePointAt(bytes);
    const std::size_t expectedLength = value < 0 ? 1 : static_cast<std::size_t>(length);
    ASSERT_EQ(decoded.value, value < 0 ? -1 : value) << testing::PrintToString(bytes);
    ASSERT_EQ(decoded.length, expectedLength) << testing::PrintToString(bytes);
    ASSERT_EQ(utf8SequenceLength(bytes), value < 0 ? 0 : expectedLength);
}

TEST(Utf8, DecodesEverySequenceAsIcuDoes) {
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const std::string two{static_cast<char>(first), static_cast<char>(second)};
            expectAgreesWithIcu(two.substr(0, 1));
            expectAgreesWithIcu(two);
            for (const char third : {'\x80', '\xBF', 'A'}) {
                expectAgreesWithIcu(two + third);
                for (const char fourth : {'\x80', '\xBF', 'A'})
                    expectAgreesWithIcu(two + third + fourth);
            }
        }
    }
}

TEST(Utf8, CopiesValidCharactersAndReplacesEachBadByte) {
    const std::string text = "a\xC3\xA9\xFF\xE2\x82";
    std::string copied;
    for (std::size_t at = 0; at < text.size();)
        at += appendCharacterOrReplacement(std::string_view(text).substr(at), copied);
    EXPECT_EQ(copied, "a\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    std::string escaped;
    EXPECT_EQ(appendCharacterOrReplacement("\x80", escaped, "\\ufffd"), 1u);
    EXPECT_EQ(escaped, "\\ufffd");
}

TEST(Utf8, CutsAndCountsWholeCharacters) {
    const std::string text = "a\xC3\xA9\xF0\x9F\x99\x82"; // a, é, a four-byte emoji
    EXPECT_EQ(characterCount(text), 3u);
    EXPECT_EQ(characterCut(text, 2), 1u);
    EXPECT_EQ(characterCut(text, 5), 3u);
    EXPECT_EQ(characterCut(text, 99), text.size());
    EXPECT_EQ(characterCut("\xC3\xA9", 1, 1), 1u); // never shorter than asked
    EXPECT_EQ(announcedLength('\xF0'), 4u);
    EXPECT_EQ(announcedLength('\x80'), 1u);
}

} // namespace
} // namespace kestrova::speech
