#pragma once

// Documents made by LibreOffice, a producer the tests did not write: a flat OpenDocument text
// written here, turned into PDF by soffice.

#include "support/running_program.h"
#include "support/test_support.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#ifndef KESTROVA_TEST_CACHE_DIR
#define KESTROVA_TEST_CACHE_DIR "/tmp/kestrova-test-cache"
#endif

namespace kestrova::test {

// One piece of a flat ODT's body. Text: "\n" is a line break inside the paragraph, "[^TEXT]"
// a footnote whose body is TEXT.
struct OdtPiece {
    enum Kind { Heading, Paragraph, BigParagraph, Columns, ColumnsEnd } kind;
    std::string text;
};

// A flat ODT on small pages (14 x 20 cm): a running head on every page, "Page N" as its
// footer, 12-point justified body text, 20-point headings of outline level 1 (which the PDF's
// outline lists), BigParagraph as large as a heading but with no outline level, and a section
// of two columns between Columns and ColumnsEnd.
inline std::string flatOdt(const std::string& title, const std::string& author,
                           const std::string& runningHead, const std::vector<OdtPiece>& body) {
    const auto escaped = [](const std::string& text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '&')
                out += "&amp;";
            else if (c == '<')
                out += "&lt;";
            else if (c == '\n')
                out += "<text:line-break/>";
            else if (text.compare(i, 2, "[^") == 0) {
                const std::size_t end = text.find(']', i);
                out += "<text:note text:note-class=\"footnote\"><text:note-citation>*</"
                       "text:note-citation><text:note-body><text:p>" +
                       text.substr(i + 2, end - i - 2) + "</text:p></text:note-body></text:note>";
                i = end;
            } else
                out += c;
        }
        return out;
    };
    std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:meta><dc:title>)" +
                      escaped(title) + "</dc:title><meta:initial-creator>" + escaped(author) +
                      "</meta:initial-creator><dc:creator>" + escaped(author) +
                      R"(</dc:creator></office:meta>
<office:styles>
<style:style style:name="Standard" style:family="paragraph"><style:paragraph-properties fo:text-align="justify" fo:margin-bottom="0.2cm"/><style:text-properties fo:font-size="12pt" fo:language="en" fo:country="US"/></style:style>
<style:style style:name="Heading_20_1" style:display-name="Heading 1" style:family="paragraph" style:default-outline-level="1"><style:paragraph-properties fo:margin-top="0.5cm" fo:margin-bottom="0.3cm"/><style:text-properties fo:font-size="20pt" fo:font-weight="bold"/></style:style>
<style:style style:name="Big" style:family="paragraph"><style:paragraph-properties fo:margin-top="0.5cm" fo:margin-bottom="0.3cm"/><style:text-properties fo:font-size="20pt" fo:font-weight="bold"/></style:style>
</office:styles>
<office:automatic-styles>
<style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="14cm" fo:page-height="20cm" fo:margin-top="1.5cm" fo:margin-bottom="1.5cm" fo:margin-left="2cm" fo:margin-right="2cm"/><style:header-style><style:header-footer-properties fo:min-height="0.6cm" fo:margin-bottom="0.3cm"/></style:header-style><style:footer-style><style:header-footer-properties fo:min-height="0.6cm" fo:margin-top="0.3cm"/></style:footer-style></style:page-layout>
<style:style style:name="Sect1" style:family="section"><style:section-properties><style:columns fo:column-count="2" fo:column-gap="0.6cm"/></style:section-properties></style:style>
</office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1">
<style:header><text:p>)" +
                      escaped(runningHead) +
                      R"(</text:p></style:header>
<style:footer><text:p>Page <text:page-number text:select-page="current">1</text:page-number></text:p></style:footer>
</style:master-page></office:master-styles>
<office:body><office:text>
)";
    for (const OdtPiece& piece : body)
        switch (piece.kind) {
        case OdtPiece::Heading:
            xml += "<text:h text:outline-level=\"1\">" + escaped(piece.text) + "</text:h>\n";
            break;
        case OdtPiece::Paragraph:
            xml += "<text:p>" + escaped(piece.text) + "</text:p>\n";
            break;
        case OdtPiece::BigParagraph:
            xml += "<text:p text:style-name=\"Big\">" + escaped(piece.text) + "</text:p>\n";
            break;
        case OdtPiece::Columns:
            xml += "<text:section text:name=\"columns\" text:style-name=\"Sect1\">\n";
            break;
        case OdtPiece::ColumnsEnd:
            xml += "</text:section>\n";
            break;
        }
    return xml + "</office:text></office:body></office:document>\n";
}

// The text as a reader hears it: line breaks as spaces, hyphens at breaks as the document
// means them (given by the caller), notes left out.
inline std::string withoutNotes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "[^") == 0)
            i = text.find(']', i);
        else
            out += text[i] == '\n' ? ' ' : text[i];
    }
    return out;
}

// Every file turned into PDF (beside it, NAME.pdf) by one start of soffice, its profile in
// folder: a first start makes the profile, as root or not. filter: "pdf" or "pdf:FILTER:{...}".
inline Outcome officeToPdf(const std::filesystem::path& folder,
                           const std::vector<std::string>& files,
                           const std::string& filter = "pdf") {
    std::vector<std::string> arguments{
        "--headless",   "-env:UserInstallation=file://" + (folder / "office-profile").string(),
        "--convert-to", filter,
        "--outdir",     folder.string()};
    arguments.insert(arguments.end(), files.begin(), files.end());
    return runProgram("/usr/bin/soffice", arguments, folder);
}

// The documents make() writes into a folder, made once for the whole test run and kept in
// the build tree: each test of a suite runs in a process of its own, and LibreOffice takes
// seconds to start. The folder is named by key, which must say everything that goes into it
// (the sources and the commands): a changed source makes another. It is made beside its place and
// renamed into it, so that tests running side by side find it whole, or make their own and drop it.
inline std::filesystem::path
madeOnce(const std::string& key, const std::function<void(const std::filesystem::path&)>& make) {
    namespace fs = std::filesystem;
    const fs::path root = KESTROVA_TEST_CACHE_DIR;
    const fs::path folder = root / std::to_string(std::hash<std::string>{}(key));
    if (fs::exists(folder / ".complete"))
        return folder;
    fs::create_directories(root);
    const fs::path making = root / ("making-" + std::to_string(::getpid()));
    fs::remove_all(making);
    fs::create_directories(making);
    make(making);
    if (::testing::Test::HasFatalFailure())
        return making; // the suite fails; nothing is kept for the next
    writeBytes(making / ".complete", key);
    std::error_code taken;
    fs::rename(making, folder, taken); // another process's folder may be there already
    if (taken)
        fs::remove_all(making);
    return folder;
}

} // namespace kestrova::test
