// Letter case in ASCII alone, whatever the locale.

#include "speech/base/ascii.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrova::speech {
namespace {

TEST(AsciiLower, LowersTheTwentySixLettersAndNoOtherByte) {
    std::string every;
    for (int byte = 0; byte < 256; ++byte)
        every += static_cast<char>(byte);
    std::string expected = every;
    expected.replace(static_cast<std::size_t>('A'), 26, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(asciiLower(every), expected);
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\x89", "\xC3\xA9")); // É and é: UTF-8 untouched
    EXPECT_EQ(lowerCaseEnding("Caf\xC3\x89.Tar.GZ"), ".gz");
}

} // namespace
} // namespace kestrova::speech
