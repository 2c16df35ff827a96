#include "speech/speech_error.h"
#include "speech/text/readers/ssml/ssml_reader.h"
#include "ssml_reader_cases.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

class SsmlEntities : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ =
            std::filesystem::path(::testing::TempDir()) / ("ssml-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
        secretFile_ = directory_ / "secret.txt";
        std::ofstream(secretFile_) << secret;
        std::ofstream(directory_ / "entities.dtd")
            << "<!ENTITY x SYSTEM \"file://" << secretFile_.string() << "\">\n";
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    // The document's script, or its error: the secret must be in neither.
    std::string outcome(const std::string& document) {
        try {
            return describe(readSsml(document, source));
        } catch (const SpeechError& error) {
            return error.what();
        }
    }

    static constexpr const char* secret = "TOP-SECRET-7f3a";
    std::filesystem::path directory_;
    std::filesystem::path secretFile_;
};

TEST_F(SsmlEntities, AFileEntityIsNeverRead) {
    const std::string url = "file://" + secretFile_.string();
    const std::string documents[] = {
        "<!DOCTYPE speak [<!ENTITY x SYSTEM \"" + url + "\">]><speak>&x;</speak>",
        "<!DOCTYPE speak [<!ENTITY x SYSTEM \"" + url +
            "\">]><speak><sub alias=\"&x;\">a</sub></speak>",
        "<!DOCTYPE speak [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><speak>a</speak>",
        "<!DOCTYPE speak SYSTEM \"file://" + (directory_ / "entities.dtd").string() +
            "\"><speak>&x;</speak>",
    };
    for (const std::string& document : documents) {
        const std::string result = outcome(document);
        EXPECT_EQ(result.find(secret), std::string::npos) << document;
        EXPECT_EQ(result.rfind("doc.ssml:1:", 0), 0u) << document << "\n" << result;
    }
}

TEST_F(SsmlEntities, AnInternalEntityIsRefusedWhereItIsDeclared) {
    EXPECT_EQ(outcome("<!DOCTYPE speak [<!ENTITY y \"boom\">]><speak>&y;</speak>"),
              "doc.ssml:1:35: entity \"y\" is declared; entities are not read");
}

std::string nested(int depth) {
    std::string document = "<speak>";
    for (int level = 1; level < depth; ++level)
        document += "<emphasis level=\"none\">";
    document += "deep";
    for (int level = 1; level < depth; ++level)
        document += "</emphasis>";
    return document + "</speak>";
}

TEST(SsmlReader, ReadsMarkupNestedToTheDeepestAllowed) {
    EXPECT_EQ(describe(readSsml(nested(ssmlMaxDepth), source)), "deep");
}

TEST(SsmlReader, RefusesMarkupNestedDeeper) {
    try {
        readSsml(nested(ssmlMaxDepth + 1), source);
        FAIL() << "no error";
    } catch (const SpeechError& error) {
        EXPECT_STREQ(error.what(),
                     "doc.ssml:1:5873: the markup is nested deeper than 256 elements");
    }
}

// A document of the given size: comments, then one word.
std::string documentOfSize(std::size_t size) {
    const std::string head = "<speak>";
    const std::string tail = "ok</speak>";
    std::string document = head;
    const std::string comment = "<!--" + std::string(4088, 'c') + "-->";
    while (document.size() + comment.size() + tail.size() <= size)
        document += comment;
    document.append(size - document.size() - tail.size(), ' ');
    return document + tail;
}

TEST(SsmlReader, ReadsADocumentOfTheLargestSize) {
    const std::string document = documentOfSize(ssmlMaxBytes);
    ASSERT_EQ(document.size(), ssmlMaxBytes);
    EXPECT_EQ(describe(readSsml(document, source)), "ok");
}

TEST(SsmlReader, RefusesALargerDocument) {
    EXPECT_THROW(
        {
            try {
                readSsml(documentOfSize(ssmlMaxBytes + 1), source);
            } catch (const SpeechError& error) {
                EXPECT_STREQ(error.what(), "doc.ssml: the SSML document is larger than 64 MiB");
                throw;
            }
        },
        SpeechError);
}

// The document in another encoding as Python's codecs write it: an oracle apart from libxml2.
std::string encodedByPython(const std::string& utf8, const std::string& codec) {
    const std::filesystem::path directory =
        std::filesystem::path(::testing::TempDir()) / ("ssml-codec-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    std::ofstream(directory / "in", std::ios::binary) << utf8;
    const std::string command =
        "python3 -c 'import sys; open(sys.argv[2], \"wb\").write(open(sys.argv[1], "
        "encoding=\"utf-8\").read().encode(sys.argv[3]))' '" +
        (directory / "in").string() + "' '" + (directory / "out").string() + "' " + codec;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(directory / "out", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(directory);
    return bytes;
}

struct EncodingCase {
    std::string name;
    std::string codec;       // Python's name of the encoding
    std::string declaration; // empty: none
    std::string text;
};

void PrintTo(const EncodingCase& entry, std::ostream* out) {
    *out << entry.name;
}

class SsmlEncoding : public ::testing::TestWithParam<EncodingCase> {};

// Decoded once, as its mark or declaration says: the same script as the document in UTF-8.
TEST_P(SsmlEncoding, ReadsAsTheSameDocumentInUtf8) {
    const EncodingCase& c = GetParam();
    const std::string head =
        c.declaration.empty() ? "" : "<?xml version=\"1.0\" encoding=\"" + c.declaration + "\"?>\n";
    const std::string document = head + "<speak>\n<p>" + c.text + "</p>\n</speak>\n";
    const std::string encoded = encodedByPython(document, c.codec);
    ASSERT_NE(encoded, document);
    const std::string inUtf8 = describe(readSsml("<speak>" + c.text + "</speak>", source));
    EXPECT_EQ(inUtf8, c.text);
    EXPECT_EQ(describe(readSsml(encoded, source)), inUtf8);
}

const EncodingCase encodingCases[] = {
    {"Latin1Declared", "latin-1", "ISO-8859-1",
     "Caf\xC3\xA9 na\xC3\xAFve, fa\xC3\xA7"
     "ade."},
    {"Windows1252Declared", "cp1252", "windows-1252",
     "Caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\x93 5 \xE2\x82\xAC."},
    {"ShiftJisDeclared", "shift_jis", "Shift_JIS",
     "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87\xE7\xAB\xA0\xE3\x80\x82"},
    {"Utf16WithMark", "utf-16", "", "Caf\xC3\xA9 \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC."},
    {"Utf16WithMarkDeclared", "utf-16", "UTF-16", "Caf\xC3\xA9 \xE2\x82\xAC."},
    {"Utf16LittleEndianDeclared", "utf-16-le", "UTF-16LE", "Caf\xC3\xA9 \xE2\x82\xAC."},
    {"Utf16BigEndianDeclared", "utf-16-be", "UTF-16BE", "Caf\xC3\xA9 \xE2\x82\xAC."},
    {"Utf8WithMark", "utf-8-sig", "", "Caf\xC3\xA9 \xE2\x82\xAC."},
};

INSTANTIATE_TEST_SUITE_P(Ssml, SsmlEncoding, ::testing::ValuesIn(encodingCases),
                         [](const auto& info) { return info.param.name; });

TEST(SsmlReader, AnEncodingGivenWinsAndUndeclaredWindows1252IsReadAsPlainTextIs) {
    const std::string undeclared = "<speak>caf\xE9</speak>";
    EXPECT_EQ(ssmlEncoding(undeclared, TextEncoding::Windows1252), TextEncoding::Windows1252);
    EXPECT_EQ(describe(readSsml(undeclared, source, {}, TextEncoding::Windows1252)), "caf\xC3\xA9");
    const std::string declared = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><speak/>";
    EXPECT_EQ(ssmlEncoding(declared, TextEncoding::Windows1252), TextEncoding::Automatic);
    EXPECT_EQ(ssmlEncoding(declared, TextEncoding::Utf8), TextEncoding::Automatic);
}

std::string failureOf(const std::string& document) {
    try {
        readSsml(document, source);
    } catch (const SpeechError& error) {
        return error.what();
    }
    return "no error";
}

// A value from the document is quoted on one line and cut when long; libxml2's limits are
// said in our words.
TEST(SsmlReader, MessagesShowValuesQuotedOnOneLineAndCut) {
    EXPECT_EQ(failureOf("<speak><break time=\"&#10;kestrova-wav-cli: all good&#10;\"/></speak>"),
              "doc.ssml:1:8: malformed time $'\\n''kestrova-wav-cli: all good'$'\\n' of <break>");
    EXPECT_EQ(failureOf("<speak><prosody rate=\"&#13;x\">y</prosody></speak>"),
              "doc.ssml:1:8: malformed rate $'\\r''x' of <prosody>");
    const std::string huge =
        failureOf("<speak><break time=\"" + std::string(1 << 20, '9') + "x\"/></speak>");
    EXPECT_EQ(huge, "doc.ssml:1:8: malformed time \"" + std::string(40, '9') + "..." +
                        std::string(39, '9') + "x\" of <break>");
    EXPECT_EQ(failureOf("<" + std::string(1000, 'q') + "/>"),
              "doc.ssml:1:1: the root element is <" + std::string(40, 'q') + "..." +
                  std::string(40, 'q') + ">, not <speak>");
    const std::string deep = failureOf(nested(2000));
    EXPECT_EQ(deep.find("XML_PARSE_HUGE"), std::string::npos) << deep;
    EXPECT_NE(deep.find("nested deeper"), std::string::npos) << deep;
    const std::string longText = failureOf("<speak>" + std::string(11'000'000, 'a') + "<</speak>");
    EXPECT_EQ(longText.find("XML_PARSE_HUGE"), std::string::npos) << longText;
    EXPECT_LT(longText.size(), 300u);
}

TEST(SsmlReader, RefusesMoreThanAMillionRunsBreaksAndMarks) {
    std::string document = "<speak>";
    for (std::size_t sentence = 0; sentence < ssmlMaxItems / 2; ++sentence)
        document += "<s>a</s>";
    EXPECT_EQ(readSsml(document + "</speak>", source).size(), ssmlMaxItems - 1);
    EXPECT_EQ(failureOf(document + "<s>a</s><s>b</s></speak>"),
              "doc.ssml:1:4000016: the markup makes more than 1000000 runs, breaks and marks");
}

// Breaks add up in 64 bits to at most 24 hours a document: 1193 hours and 168296 ms would
// wrap a 32-bit count of milliseconds to 1.9 s.
TEST(SsmlReader, RefusesBreaksAddingUpToMoreThanADay) {
    std::string day = "<speak>";
    for (int hour = 0; hour < 24; ++hour)
        day += "<break time=\"3600s\"/>";
    EXPECT_EQ(readSsml(day + "</speak>", source).size(), 24u);
    EXPECT_EQ(failureOf(day + "<break time=\"1ms\"/></speak>"),
              "doc.ssml:1:512: the breaks add up to more than 24 hours of silence");
    std::string wrapping = "<speak>";
    for (int hour = 0; hour < 1193; ++hour)
        wrapping += "<break time=\"3600s\"/>";
    EXPECT_EQ(failureOf(wrapping + "<break time=\"168296ms\"/></speak>"),
              "doc.ssml:1:512: the breaks add up to more than 24 hours of silence");
}

} // namespace
} // namespace kestrova::speech
