#include "speech/json_text.h"

#include <gtest/gtest.h>

namespace kestrova::speech {
namespace {

struct JsonCase {
    std::string text;
    std::string json;
};

void PrintTo(const JsonCase& entry, std::ostream* out) {
    *out << entry.json;
}

class JsonString : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonString, EscapesWhatJsonRequires) {
    EXPECT_EQ(jsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JsonString,
    ::testing::Values(JsonCase{"", "\"\""}, JsonCase{"eSpeak NG en-us", "\"eSpeak NG en-us\""},
                      JsonCase{"say \"hi\"", "\"say \\\"hi\\\"\""},
                      JsonCase{"back\\slash/", "\"back\\\\slash/\""},
                      JsonCase{"tab\tline\nreturn\r", "\"tab\\tline\\nreturn\\r\""},
                      JsonCase{std::string("nul\0bell\x07", 9), "\"nul\\u0000bell\\u0007\""},
                      JsonCase{"Português 日本 🎧", "\"Português 日本 🎧\""},
                      // Not UTF-8: a Latin-1 byte, a stray continuation, an overlong form,
                      // a surrogate and a cut sequence each become U+FFFD.
                      JsonCase{"caf\xe9", "\"caf\\ufffd\""}, JsonCase{"\x80x", "\"\\ufffdx\""},
                      JsonCase{"\xc0\xaf", "\"\\ufffd\\ufffd\""},
                      JsonCase{"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
                      JsonCase{"\xe6\x97", "\"\\ufffd\\ufffd\""}));

} // namespace
} // namespace kestrova::speech
