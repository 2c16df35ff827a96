#pragma once

// Word and OpenDocument documents made by pandoc and LibreOffice as the tests run, the ZIP
// archives the tests write by hand, and what a reading hands over.

#include "speech/text/readers/document.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/word_match.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <zip.h>

namespace kestrova::speech::office_document_cases {

namespace fs = std::filesystem;

// A Markdown book: chapters, a sub-heading, a footnote, a list, a table and a French span.
inline const std::string bookMarkdown = R"(---
title: The Office Book
author: Ada Writer
lang: en
---

# Chapter One

The first paragraph has a note.[^1] It goes on about lighthouses and keepers.

A [Bonjour mes amis]{lang=fr} greeting, said once by the keeper.

## A Section

- first item of the list
- second item of the list

# Chapter Two

| Name | Age |
|------|-----|
| Ann  | 30  |

Last words here, at the end of the book.

[^1]: The note text lives here.
)";

// The words a listener should hear of the book: its title block and body, without the note.
inline const std::string bookWords =
    "The Office Book Ada Writer Chapter One The first paragraph has a note. It goes on about "
    "lighthouses and keepers. A Bonjour mes amis greeting, said once by the keeper. A Section "
    "first item of the list second item of the list Chapter Two Name Age Ann 30 Last words "
    "here, at the end of the book.";

// A flat OpenDocument text of what editors leave in a document: a tracked deletion and
// insertion, a comment, spaces and tabs, a text box, an image with a title, a French span.
inline const std::string changesFodt = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
<office:meta><dc:title>Edited Pages</dc:title><meta:initial-creator>Eve Editor</meta:initial-creator><dc:language>en</dc:language></office:meta>
<office:automatic-styles><style:style style:name="T1" style:family="text"><style:text-properties fo:language="fr" fo:country="FR"/></style:style></office:automatic-styles>
<office:body><office:text>
<text:tracked-changes>
<text:changed-region text:id="c1"><text:deletion><office:change-info><dc:creator>Eve</dc:creator><dc:date>2024-01-01T00:00:00</dc:date></office:change-info><text:p>struck</text:p></text:deletion></text:changed-region>
<text:changed-region text:id="c2"><text:insertion><office:change-info><dc:creator>Eve</dc:creator><dc:date>2024-01-01T00:00:00</dc:date></office:change-info></text:insertion></text:changed-region>
</text:tracked-changes>
<text:h text:outline-level="1">Opening</text:h>
<text:p>Kept words<text:change text:change-id="c1"/> stay here.</text:p>
<text:p>Added <text:change-start text:change-id="c2"/>fresh<text:change-end text:change-id="c2"/> words.</text:p>
<text:p>Reviewed text<office:annotation><dc:creator>Eve</dc:creator><dc:date>2024-01-01T00:00:00</dc:date><text:p>Remark of the reviewer.</text:p></office:annotation> ends.</text:p>
<text:p>Spaced<text:s text:c="3"/>out<text:tab/>words<text:line-break/>broken here, <text:span text:style-name="T1">Bonjour mes amis</text:span>.</text:p>
<text:p>Before the box <draw:frame draw:name="box" text:anchor-type="as-char" svg:width="2in" svg:height="1in"><draw:text-box><text:p>Boxed words</text:p></draw:text-box></draw:frame> after the box.</text:p>
<text:p>A picture <draw:frame draw:name="pic" text:anchor-type="as-char" svg:width="1in" svg:height="1in"><draw:image><office:binary-data>iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC</office:binary-data></draw:image><svg:title>A red square</svg:title></draw:frame> here.</text:p>
<text:h text:outline-level="1">Closing</text:h>
<text:p>The end.</text:p>
</office:text></office:body></office:document>
)";

// A ZIP archive of these entries, in order, deflated but for those named in stored.
inline void writeZip(const fs::path& file,
                     const std::vector<std::pair<std::string, std::string>>& entries,
                     const std::set<std::string>& stored = {"mimetype"}) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const auto& [name, bytes] : entries) {
        zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE);
        ASSERT_GE(index, 0);
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 stored.contains(name) ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 9);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

inline const std::string contentTypes =
    R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-)"
    R"(officedocument.wordprocessingml.document.main+xml"/></Types>)";

// A Word document of this body, with these parts beside it.
inline void writeDocx(const fs::path& file, const std::string& body,
                      std::vector<std::pair<std::string, std::string>> parts = {}) {
    parts.insert(parts.begin(),
                 {{"[Content_Types].xml", contentTypes},
                  {"word/document.xml",
                   R"(<?xml version="1.0"?><w:document xmlns:w="http://schemas.openxmlformats.org/)"
                   R"(wordprocessingml/2006/main"><w:body>)" +
                       body + "</w:body></w:document>"}});
    writeZip(file, parts);
}

// What a reader hands over: "# TITLE" for a chapter, the text for a block; the blocks kept.
class RecordingSink : public DocumentSink {
public:
    void chapter(std::string title) override { events.push_back("# " + title); }
    void block(DocumentBlock block) override {
        std::string text;
        for (const DocumentRun& run : block.runs)
            text += run.text;
        events.push_back(text);
        blocks.push_back(std::move(block));
    }
    void leftOut(LeftOut what) override { ++leftOuts[what]; }

    std::string all() const {
        std::string joined;
        for (const std::string& event : events)
            joined += event + "\n";
        return joined;
    }
    std::vector<std::string> chapters() const {
        std::vector<std::string> titles;
        for (const std::string& event : events)
            if (event.starts_with("# "))
                titles.push_back(event.substr(2));
        return titles;
    }
    std::string blockText() const {
        std::string text;
        for (const std::string& event : events)
            if (!event.starts_with("# "))
                text += event + "\n";
        return text;
    }

    std::vector<std::string> events;
    std::vector<DocumentBlock> blocks;
    std::map<LeftOut, int> leftOuts;
};

inline std::unique_ptr<StructuredDocument> openOffice(const fs::path& file,
                                                      const DocumentOptions& options = {}) {
    return file.extension() == ".odt" ? openOdt(file, options) : openDocx(file, options);
}

inline RecordingSink readOffice(const fs::path& file, const DocumentOptions& options = {}) {
    RecordingSink sink;
    openOffice(file, options)->read(sink);
    return sink;
}

inline DocumentOptions withNotes(bool alt = false) {
    return {.readAlt = alt,
            .readNotes = true,
            .readCode = false,
            .warning = {},
            .cancel = nullptr,
            .openFile = -1};
}

// The failure of opening and reading the file through, or "" where there is none.
inline std::string failureOf(const fs::path& file) {
    try {
        readOffice(file);
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

} // namespace kestrova::speech::office_document_cases
