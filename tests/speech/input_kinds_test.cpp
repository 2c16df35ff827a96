// How an input's kind is told from its first bytes and its name.

#include "speech/input_kinds.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrova::speech {
namespace {

// The first local header of a zip whose first entry, stored, is "mimetype" holding content.
std::string zipStart(std::string_view content, std::string_view name = "mimetype") {
    std::string header("PK\x03\x04", 4);
    header += std::string(22, '\0');
    header += static_cast<char>(name.size());
    header += '\0';
    header += std::string(2, '\0'); // no extra field
    return header + std::string(name) + std::string(content) + "rest of the zip";
}

struct KindCase {
    const char* name;
    std::string head;
    const char* file;
    InputKind kind;
};

class InputKindOf : public ::testing::TestWithParam<KindCase> {};

TEST_P(InputKindOf, ContentThenEndingElsePlainText) {
    EXPECT_EQ(inputKindOf(GetParam().head, GetParam().file), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InputKindOf,
    ::testing::Values(
        KindCase{"EpubByContent", zipStart("application/epub+zip"), "book", InputKind::Epub},
        KindCase{"OtherZipByEnding", zipStart("application/zip"), "a.epub", InputKind::Epub},
        KindCase{"OtherZipIsText", zipStart("application/epub+zip", "mimetypo"), "a.bin",
                 InputKind::Text},
        KindCase{"SsmlAfterDeclarationAndComment",
                 "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- said -->\n<speak version=\"1.1\">",
                 "a.xml", InputKind::Ssml},
        KindCase{"SsmlInUtf16", std::string("\xFF\xFE<\0s\0p\0e\0a\0k\0>\0", 16), "in",
                 InputKind::Ssml},
        KindCase{"SpeakIsCaseSensitive", "<SPEAK>", "a", InputKind::Text},
        KindCase{"SpeakerIsNotSpeak", "<speaker>", "a", InputKind::Text},
        KindCase{"HtmlDoctypeAnyCase", "  <!doctype HTML>\n<p>x", "page", InputKind::Html},
        KindCase{"XhtmlRoot", "<?xml version='1.0'?><html xmlns='http://www.w3.org/1999/xhtml'>",
                 "ch1", InputKind::Html},
        KindCase{"ContentBeforeEnding", "<!DOCTYPE html>", "page.md", InputKind::Html},
        KindCase{"HtmlByEnding", "<p>Hello.</p>", "page.HTM", InputKind::Html},
        KindCase{"XhtmlByEnding", "<p>Hello.</p>", "page.xhtml", InputKind::Html},
        KindCase{"MarkdownByEnding", "# Title\n", "notes.md", InputKind::Markdown},
        KindCase{"LongMarkdownEnding", "# Title\n", "notes.Markdown", InputKind::Markdown},
        KindCase{"SsmlByEnding", "Hello", "a.ssml", InputKind::Ssml},
        KindCase{"PdfByContent", std::string("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n\0", 16), "scan.bin",
                 InputKind::Pdf},
        KindCase{"PdfByEnding", "garbage", "paper.PDF", InputKind::Pdf},
        KindCase{"PdfNotInTheMiddle", "Hello %PDF-1.4", "notes", InputKind::Text},
        KindCase{"TxtWhateverItHolds", "<!DOCTYPE html><html>", "page.txt", InputKind::Text},
        KindCase{"TxtSpeakStaysText", "<speak>Hi</speak>", "said.TXT", InputKind::Text},
        KindCase{"NothingKnownIsText", "Once upon a time.", "story", InputKind::Text},
        KindCase{"EmptyIsText", "", "empty", InputKind::Text}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InputKindRows, NamesAndStructure) {
    for (const InputKindRow& row : inputKindRows()) {
        SCOPED_TRACE(row.typeName);
        EXPECT_EQ(inputKindNamed(row.typeName), row.kind);
        EXPECT_EQ(&inputKindRow(row.kind), &row);
    }
    EXPECT_FALSE(inputKindNamed("EPUB")); // exact letters, as --type
    EXPECT_FALSE(isStructured(InputKind::Text));
    EXPECT_FALSE(isStructured(InputKind::Ssml));
    EXPECT_TRUE(isStructured(InputKind::Epub));
    EXPECT_TRUE(isStructured(InputKind::Html));
    EXPECT_TRUE(isStructured(InputKind::Markdown));
}

} // namespace
} // namespace kestrova::speech
