#include "speech/text/readers/plain/text_decoder.h"
#include "support/test_support.h"

#include <chrono>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace kestrova::speech {
namespace {

using namespace std::string_literals;
using test::cleanTextFault;

struct DecodeCase {
    std::string name;
    std::string bytes;
    TextEncoding detected; // what Automatic resolves to
    std::string text;      // the decoded UTF-8
};

void PrintTo(const DecodeCase& entry, std::ostream* out) {
    *out << entry.name;
}

std::string testName(const ::testing::TestParamInfo<DecodeCase>& info) {
    return info.param.name;
}

class DecodeAutomatic : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeAutomatic, DetectsTheEncoding) {
    EXPECT_EQ(detectEncoding(GetParam().bytes), GetParam().detected)
        << "detected " << encodingName(detectEncoding(GetParam().bytes));
}

TEST_P(DecodeAutomatic, GivesCleanUtf8Text) {
    EXPECT_EQ(decodeText(GetParam().bytes), GetParam().text);
}

TEST_P(DecodeAutomatic, GivesTheSameTextWithTheDetectedEncodingNamed) {
    EXPECT_EQ(decodeText(GetParam().bytes, GetParam().detected), GetParam().text);
}

const DecodeCase automaticCases[] = {
    {"Empty", "", TextEncoding::Utf8, ""},
    {"Ascii", "Hello world.", TextEncoding::Utf8, "Hello world."},
    {"Utf8WithMark", "\xEF\xBB\xBFH\xC3\xA9", TextEncoding::Utf8, "H\xC3\xA9"},
    {"Utf8MarkOnly", "\xEF\xBB\xBF", TextEncoding::Utf8, ""},
    {"Utf8WithoutMark", "H\xC3\xA9", TextEncoding::Utf8, "H\xC3\xA9"},
    {"Utf8FourByte", "a\xF0\x9F\x98\x80z", TextEncoding::Utf8, "a\xF0\x9F\x98\x80z"},
    {"Utf16LEWithMark", "\xFF\xFEH\0\xE9\0"s, TextEncoding::Utf16LE, "H\xC3\xA9"},
    {"Utf16BEWithMark", "\xFE\xFF\0H\0\xE9"s, TextEncoding::Utf16BE, "H\xC3\xA9"},
    {"Utf16LESurrogatePair", "\xFF\xFE\x3D\xD8\x00\xDE"s, TextEncoding::Utf16LE,
     "\xF0\x9F\x98\x80"},
    // UTF-32LE's mark begins with UTF-16LE's: read as UTF-16, "Hi" spelt out letter by letter.
    {"Utf32LEWithMark", "\xFF\xFE\0\0H\0\0\0\xE9\0\0\0"s, TextEncoding::Utf32LE, "H\xC3\xA9"},
    {"Utf32BEWithMark", "\0\0\xFE\xFF\0\0\0H\0\0\0\xE9"s, TextEncoding::Utf32BE, "H\xC3\xA9"},
    {"Utf32LEAstral", "\xFF\xFE\0\0\x00\xF6\x01\0"s, TextEncoding::Utf32LE, "\xF0\x9F\x98\x80"},
    {"Utf32LEMarkOnly", "\xFF\xFE\0\0"s, TextEncoding::Utf32LE, ""},
    {"Utf16LEWithoutMark", "H\0e\0l\0l\0o\0"s, TextEncoding::Utf16LE, "Hello"},
    {"Utf16BEWithoutMark", "\0H\0e\0l\0l\0o"s, TextEncoding::Utf16BE, "Hello"},
    {"Utf16LEWithoutMarkAccent", "c\0a\0f\0\xE9\0"s, TextEncoding::Utf16LE, "caf\xC3\xA9"},
    {"Windows1252Accent", "caf\xE9 au lait", TextEncoding::Windows1252, "caf\xC3\xA9 au lait"},
    // The last byte alone is no UTF-8: a Windows-1252 letter, not a character cut off.
    {"Windows1252AccentAtTheVeryEnd", "Hello Jos\xE9", TextEncoding::Windows1252,
     "Hello Jos\xC3\xA9"},
    {"TruncatedUtf8AtTheEndIsNoUtf8", "caf\xC3", TextEncoding::Windows1252, "caf\xC3\x83"},
    // glibc's UTF-8 decoder takes code points beyond U+10FFFF; they are no UTF-8.
    {"BeyondUnicodeIsNoUtf8", "a\xF6\x8D\xAC\x85z", TextEncoding::Windows1252,
     "a\xC3\xB6 \xC2\xAC\xE2\x80\xA6z"},
    {"BeyondUnicodeFourBytesIsNoUtf8", "a\xF4\x90\x80\x80z", TextEncoding::Windows1252,
     "a\xC3\xB4 \xE2\x82\xAC\xE2\x82\xACz"},
    {"Windows1252CurlyQuotes", "\x93quoted\x94", TextEncoding::Windows1252,
     "\xE2\x80\x9Cquoted\xE2\x80\x9D"},
    {"Windows1252Euro", "\x80 5", TextEncoding::Windows1252, "\xE2\x82\xAC 5"},
    {"Windows1252UndefinedByte", "a\x81z", TextEncoding::Windows1252, "a z"},
    {"InvalidUtf8InTheMiddle", "ok \xC3\xA9 then \xE9 bad", TextEncoding::Windows1252,
     "ok \xC3\x83\xC2\xA9 then \xC3\xA9 bad"},
    {"OverlongUtf8", "a\xC0\xAFz", TextEncoding::Windows1252, "a\xC3\x80\xC2\xAFz"},
    {"NulAndControls",
     "a\0b\x01"
     "c\x1F"
     "d\x7F"
     "e"s,
     TextEncoding::Utf8, "a b c d e"},
    {"Tab", "a\tb", TextEncoding::Utf8, "a b"},
    {"Utf8C1Control", "a\xC2\x85z", TextEncoding::Utf8, "a  z"},
    {"NoBreakSpaceStays", "a\xC2\xA0z", TextEncoding::Utf8, "a\xC2\xA0z"},
    {"LineFeedStays", "a\nb", TextEncoding::Utf8, "a\nb"},
    {"CarriageReturnIsASpace", "a\rb", TextEncoding::Utf8, "a b"},
    {"CarriageReturnLineFeedIsOneLineBreak", "a\r\nb", TextEncoding::Utf8, "a \nb"},
    {"Utf16ControlsBecomeSpaces",
     "\xFF\xFE"
     "a\0\t\0b\0"s,
     TextEncoding::Utf16LE, "a b"},
};

INSTANTIATE_TEST_SUITE_P(Table, DecodeAutomatic, ::testing::ValuesIn(automaticCases), testName);

struct NamedCase {
    std::string name;
    std::string bytes;
    TextEncoding encoding;
    std::string text;
};

void PrintTo(const NamedCase& entry, std::ostream* out) {
    *out << entry.name;
}

class DecodeNamed : public ::testing::TestWithParam<NamedCase> {};

TEST_P(DecodeNamed, FollowsTheNamedEncoding) {
    EXPECT_EQ(decodeText(GetParam().bytes, GetParam().encoding), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeNamed,
    ::testing::Values(
        NamedCase{"Utf8InvalidByteIsReplaced", "caf\xE9!", TextEncoding::Utf8, "caf\xEF\xBF\xBD!"},
        // A sequence cut off at the end of the text is dropped.
        NamedCase{"Utf8CutOffAtTheEnd", "caf\xC3", TextEncoding::Utf8, "caf"},
        NamedCase{"Utf8ThreeByteCutOffAtTheEnd", "caf\xE2\x82", TextEncoding::Utf8, "caf"},
        NamedCase{"Utf8BeyondUnicodeIsReplaced", "a\xF4\x90\x80\x80z", TextEncoding::Utf8,
                  "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},
        NamedCase{"Utf8SurrogateIsReplaced", "a\xED\xA0\x80z", TextEncoding::Utf8,
                  "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},
        NamedCase{"Utf8AsWindows1252", "H\xC3\xA9", TextEncoding::Windows1252, "H\xC3\x83\xC2\xA9"},
        NamedCase{"Utf8MarkIsDropped", "\xEF\xBB\xBFok", TextEncoding::Utf8, "ok"},
        NamedCase{"Utf16LEMarkIsDropped", "\xFF\xFEo\0k\0"s, TextEncoding::Utf16LE, "ok"},
        NamedCase{"Utf16BEMarkIsDropped", "\xFE\xFF\0o\0k"s, TextEncoding::Utf16BE, "ok"},
        NamedCase{"Utf16LEOddByteAtTheEnd", "o\0k\0!"s, TextEncoding::Utf16LE, "ok"},
        NamedCase{"Utf16LELoneHighSurrogateAtTheEnd", "o\0k\0\x3D\xD8"s, TextEncoding::Utf16LE,
                  "ok"},
        NamedCase{"Utf16LELoneLowSurrogate",
                  "a\0\x00\xDE"
                  "b\0"s,
                  TextEncoding::Utf16LE,
                  "a\xEF\xBF\xBD"
                  "b"},
        NamedCase{"Utf16BEAsciiLetters", "\0o\0k"s, TextEncoding::Utf16BE, "ok"},
        NamedCase{"Utf32LEBeyondUnicodeIsReplaced", "a\0\0\0\0\0\x11\0z\0\0\0"s,
                  TextEncoding::Utf32LE, "a\xEF\xBF\xBDz"},
        NamedCase{"Utf32BECutOffAtTheEnd", "\0\0\0o\0\0\0k\0\0"s, TextEncoding::Utf32BE, "ok"}),
    [](const ::testing::TestParamInfo<NamedCase>& info) { return info.param.name; });

TEST(TextDecoder, IsCleanOnlyWhileNoReplacementWasMade) {
    TextDecoder decoder(TextEncoding::Utf8);
    std::string out;
    decoder.decode("fine \xC3\xA9", false, out);
    EXPECT_TRUE(decoder.clean());
    decoder.decode(" \xFF", false, out);
    EXPECT_FALSE(decoder.clean());
    decoder.decode(" fine again", true, out);
    EXPECT_FALSE(decoder.clean());
}

TEST(TextDecoder, DropsASequenceCutOffAtTheEndAndIsNoLongerClean) {
    TextDecoder decoder(TextEncoding::Utf8);
    std::string out;
    decoder.decode("caf\xC3", false, out);
    EXPECT_EQ(out, "caf") << "the next piece may complete it";
    EXPECT_TRUE(decoder.clean());
    decoder.decode({}, true, out);
    EXPECT_EQ(out, "caf");
    EXPECT_FALSE(decoder.clean()) << "a truncated text is no valid UTF-8";
}

TEST(EncodingFromStart, ReadsMarksAndZeroBytes) {
    EXPECT_EQ(encodingFromStart("\xEF\xBB\xBFx"), TextEncoding::Utf8);
    EXPECT_EQ(encodingFromStart("\xFF\xFE"), TextEncoding::Utf16LE);
    EXPECT_EQ(encodingFromStart("\xFE\xFF"), TextEncoding::Utf16BE);
    EXPECT_EQ(encodingFromStart("plain text"), TextEncoding::Automatic);
    EXPECT_EQ(encodingFromStart(""), TextEncoding::Automatic);
    // A stray NUL in a byte text does not make it UTF-16.
    EXPECT_EQ(encodingFromStart("some text\0with one zero byte"s), TextEncoding::Automatic);
    EXPECT_EQ(byteOrderMarkLength("\xEF\xBB\xBFx"), 3u);
    EXPECT_EQ(byteOrderMarkLength("\xFF\xFEx"), 2u);
    EXPECT_EQ(byteOrderMarkLength("\xFE\xFFx"), 2u);
    EXPECT_EQ(byteOrderMarkLength("\xEF\xBB"), 0u);
    EXPECT_EQ(byteOrderMarkLength("x"), 0u);
}

// Bytes that stress the decoders: lead and continuation bytes, marks, zeros, controls.
std::string randomBytes(std::mt19937& random) {
    static constexpr unsigned char interesting[] = {
        0x00, 0x01, 0x09, 0x0A, 0x0D, 0x1F, 0x20, 'a',  'Z',  '.',  0x7F, 0x80,
        0x81, 0x85, 0x8D, 0x93, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xC3, 0xDF, 0xE0,
        0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFE, 0xFF, 0xD8, 0xDC, 0xBB};
    std::uniform_int_distribution<int> length(0, 48);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(interesting)) - 1);
    std::string bytes(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() % 2 ? anyByte(random) : interesting[pick(random)]);
    return bytes;
}

std::string hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

constexpr TextEncoding everyEncoding[] = {TextEncoding::Automatic, TextEncoding::Utf8,
                                          TextEncoding::Windows1252, TextEncoding::Utf16LE,
                                          TextEncoding::Utf16BE};

TEST(DecodeRandomBytes, NeverThrowsAndAlwaysGivesCleanText) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 2000; ++round) {
        const std::string bytes = randomBytes(random);
        for (TextEncoding encoding : everyEncoding) {
            std::string text;
            ASSERT_NO_THROW(text = decodeText(bytes, encoding))
                << encodingName(encoding) << ": " << hex(bytes);
            ASSERT_EQ(cleanTextFault(text), "") << encodingName(encoding) << ": " << hex(bytes);
        }
        const TextEncoding detected = detectEncoding(bytes);
        ASSERT_NE(detected, TextEncoding::Automatic) << hex(bytes);
        ASSERT_EQ(decodeText(bytes), decodeText(bytes, detected)) << hex(bytes);
    }
}

std::string decodeInPieces(TextEncoding encoding, std::string_view bytes, std::size_t piece) {
    TextDecoder decoder(encoding);
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        decoder.decode(bytes.substr(at, piece), false, out);
    decoder.decode({}, true, out);
    return out;
}

std::string decodeWhole(TextEncoding encoding, std::string_view bytes) {
    TextDecoder decoder(encoding);
    std::string out;
    decoder.decode(bytes, true, out);
    return out;
}

TEST(DecodeInPieces, GivesWhatTheWholeGivesForEveryPieceSize) {
    std::mt19937 random(77);
    std::vector<std::string> samples;
    for (const DecodeCase& entry : automaticCases)
        samples.push_back(entry.bytes);
    for (int round = 0; round < 300; ++round)
        samples.push_back(randomBytes(random));
    for (const std::string& bytes : samples)
        for (TextEncoding encoding : everyEncoding) {
            const std::string whole = decodeWhole(encoding, bytes);
            for (std::size_t piece = 1; piece <= 7; ++piece)
                ASSERT_EQ(decodeInPieces(encoding, bytes, piece), whole)
                    << encodingName(encoding) << ", pieces of " << piece << ": " << hex(bytes);
        }
}

TEST(DecodeInPieces, TheLastPieceMayComeWithTheFlag) {
    const std::string bytes = "\xC3\xA9t\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D";
    TextDecoder decoder(TextEncoding::Utf8);
    std::string out;
    decoder.decode(bytes.substr(0, 1), false, out);
    decoder.decode(bytes.substr(1, 5), false, out);
    decoder.decode(bytes.substr(6), true, out);
    EXPECT_EQ(out, bytes);
}

// A file of garbage: every invalid byte becomes one U+FFFD (and with a decoder that looks
// ahead from every such byte, this took seconds rather than milliseconds).
TEST(DecodeInvalidBytes, EachBecomesOneReplacement) {
    for (const char garbage : {'\x80', '\xBF', '\xC0', '\xF5'}) {
        const std::string bytes(1 << 17, garbage);
        const std::string text = decodeText(bytes, TextEncoding::Utf8);
        EXPECT_EQ(text.size(), 3 * bytes.size()) << "byte " << int(garbage & 0xFF);
    }
}

TEST(DetectEncoding, LooksAtTheWholeTextNotJustItsStart) {
    // An invalid byte far beyond the first pieces makes all of it Windows-1252.
    std::string bytes(200000, 'a');
    bytes += "\xE9 and more";
    EXPECT_EQ(detectEncoding(bytes), TextEncoding::Windows1252);
    bytes[200000] = 'b';
    EXPECT_EQ(detectEncoding(bytes), TextEncoding::Utf8);
}

TEST(DetectEncoding, ACharacterAcrossThePieceBoundaryIsValid) {
    // Multi-byte characters laid over every offset of the 64 KiB pieces the probe reads.
    std::string bytes;
    while (bytes.size() < (1u << 17) + 8)
        bytes += "\xE2\x82\xAC\xC3\xA9";
    bytes += "z";
    EXPECT_EQ(detectEncoding(bytes), TextEncoding::Utf8);
}

} // namespace
} // namespace kestrova::speech
