// The three XML readers (SSML, the pages of books and HTML files, the book's small documents)
// share one libxml2 front end: each must refuse an entity declaration and never read a DTD
// from outside the document, whichever of them parses it.

#include "speech/speech_error.h"
#include "speech/text/readers/html/xhtml_page_tree.h"
#include "speech/text/readers/ssml/ssml_reader.h"
#include "speech/text/readers/xml/book_xml.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <unistd.h>
#include <variant>

namespace kestrova::speech {
namespace {

// A reader's outcome: its text when it reads the document, else its reason to refuse it.
struct Outcome {
    bool read = false;
    std::string words;
};

std::string contentOf(const xmlNode* root) {
    xmlChar* content = xmlNodeGetContent(root);
    std::string text(xml::textOf(content));
    xmlFree(content);
    return text;
}

Outcome ssmlOutcome(const std::string& document) {
    try {
        std::string text;
        for (const SpeechItem& item : readSsml(document, "doc.ssml"))
            if (const auto* run = std::get_if<SpeechRun>(&item))
                text += run->text;
        return {.read = true, .words = text};
    } catch (const SpeechError& error) {
        return {.read = false, .words = error.what()};
    }
}

Outcome pageOutcome(const std::string& document) {
    try {
        const xhtml::PageTree tree(document, false);
        return {.read = true, .words = contentOf(tree.root())};
    } catch (const xhtml::PageFault& fault) {
        return {.read = false, .words = fault.reason};
    }
}

struct BookXmlRefusal {
    std::string reason;
};

Outcome bookXmlOutcome(const std::string& document) {
    try {
        const book_xml::Document tree = book_xml::parse(
            document, [](const std::string& reason) { throw BookXmlRefusal{reason}; });
        return {.read = true, .words = contentOf(xmlDocGetRootElement(tree.get()))};
    } catch (const BookXmlRefusal& refusal) {
        return {.read = false, .words = refusal.reason};
    }
}

struct XmlReaderCase {
    const char* name;
    const char* root; // the root element the reader takes
    std::function<Outcome(const std::string&)> outcome;
    bool refusesUnknownDtd; // pages do; SSML and the book's documents only never load it
};

void PrintTo(const XmlReaderCase& reader, std::ostream* out) {
    *out << reader.name;
}

class XmlFrontEnd : public ::testing::TestWithParam<XmlReaderCase> {
protected:
    void SetUp() override {
        directory_ = std::filesystem::path(::testing::TempDir()) /
                     ("xml-front-end-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
        std::ofstream(directory_ / "secret.txt") << secret;
        std::ofstream(directory_ / "entities.dtd")
            << "<!ENTITY x SYSTEM \"file://" << (directory_ / "secret.txt").string() << "\">\n"
            << "<!ENTITY y \"" << secret << "\">\n";
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string document(const std::string& doctype, const std::string& content) const {
        const std::string root = GetParam().root;
        return "<?xml version=\"1.0\"?>\n" + doctype + "<" + root + ">" + content + "</" + root +
               ">";
    }

    static constexpr const char* secret = "TOP-SECRET-91c4";
    std::filesystem::path directory_;
};

TEST_P(XmlFrontEnd, RefusesADeclaredEntity) {
    const std::string root = GetParam().root;
    for (const char* declaration :
         {"<!ENTITY y \"boom\">", "<!ENTITY y SYSTEM \"file:///etc/hostname\">",
          "<!ENTITY % y SYSTEM \"file:///etc/hostname\">"}) {
        const Outcome outcome =
            GetParam().outcome(document("<!DOCTYPE " + root + " [" + declaration + "]>", "a"));
        EXPECT_FALSE(outcome.read) << declaration;
        EXPECT_NE(outcome.words.find("entity \"y\" is declared; entities are not read"),
                  std::string::npos)
            << declaration << "\n"
            << outcome.words;
    }
}

TEST_P(XmlFrontEnd, NeverReadsAnExternalDtd) {
    const std::string dtd = "file://" + (directory_ / "entities.dtd").string();
    const Outcome outcome = GetParam().outcome(document(
        "<!DOCTYPE " + std::string(GetParam().root) + " SYSTEM \"" + dtd + "\">", "a &x; &y; b"));
    EXPECT_EQ(outcome.words.find(secret), std::string::npos) << outcome.words;
    if (GetParam().refusesUnknownDtd) {
        EXPECT_FALSE(outcome.read);
        EXPECT_EQ(outcome.words,
                  "the page names the external DTD \"" + dtd + "\", which is not read");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readers, XmlFrontEnd,
    ::testing::Values(
        XmlReaderCase{
            .name = "Ssml", .root = "speak", .outcome = ssmlOutcome, .refusesUnknownDtd = false},
        XmlReaderCase{
            .name = "XhtmlPage", .root = "html", .outcome = pageOutcome, .refusesUnknownDtd = true},
        XmlReaderCase{.name = "BookXml",
                      .root = "package",
                      .outcome = bookXmlOutcome,
                      .refusesUnknownDtd = false}),
    [](const ::testing::TestParamInfo<XmlReaderCase>& info) { return info.param.name; });

} // namespace
} // namespace kestrova::speech
