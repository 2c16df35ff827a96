// Letter case in ASCII alone, whatever the locale.

#include "speech/ascii.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrova::speech {
namespace {

std::string everyByte() {
    std::string every;
    for (int byte = 0; byte < 256; ++byte)
        every += static_cast<char>(byte);
    return every;
}

TEST(AsciiLower, LowersTheTwentySixLettersAndNoOtherByte) {
    const std::string every = everyByte();
    std::string expected = every;
    expected.replace(static_cast<std::size_t>('A'), 26, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(asciiLower(every), expected);
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\x89", "\xC3\xA9")); // É and é: UTF-8 untouched
    EXPECT_EQ(lowerCaseEnding("Caf\xC3\x89.Tar.GZ"), ".gz");
}

TEST(AsciiUpper, RaisesTheTwentySixLettersAndNoOtherByte) {
    const std::string every = everyByte();
    std::string expected = every;
    expected.replace(static_cast<std::size_t>('a'), 26, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(asciiUpper(every), expected);
}

} // namespace
} // namespace kestrova::speech
