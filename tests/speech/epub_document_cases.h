#pragma once

// Shared by the epub_document tests.

#include "speech/speech_error.h"
#include "speech/text/readers/document.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

namespace fs = std::filesystem;

// Writes a ZIP archive: each entry "NAME METHOD SOURCE SIZE", SOURCE a file or zeros:N, SIZE
// "-" or a size to declare in both headers instead of the true one (a forged entry).
constexpr const char* zipWriter = R"(import sys, zipfile, struct
out, fields = sys.argv[1], sys.argv[2:]
forged = {}
with zipfile.ZipFile(out, "w") as z:
    for name, method, source, size in zip(*[iter(fields)] * 4):
        data = bytes(int(source[6:])) if source.startswith("zeros:") else open(source, "rb").read()
        kind = zipfile.ZIP_DEFLATED if method == "deflated" else zipfile.ZIP_STORED
        z.writestr(zipfile.ZipInfo(name), data, compress_type=kind)
        if size != "-":
            forged[name.encode()] = int(size)
data = bytearray(open(out, "rb").read())
at = 0
while forged and (at := data.find(b"PK\x01\x02", at)) >= 0:
    length, offset = struct.unpack_from("<H", data, at + 28)[0], struct.unpack_from("<I", data, at + 42)[0]
    name = bytes(data[at + 46:at + 46 + length])
    if name in forged:
        struct.pack_into("<I", data, at + 24, forged[name])
        struct.pack_into("<I", data, offset + 22, forged[name])
    at += 46
open(out, "wb").write(data)
)";

struct Entry {
    std::string name;
    std::string bytes; // "zeros:N" for N zero bytes made by the writer
    bool deflated = true;
    std::string declaredSize = "-";
};

inline fs::path writeZip(const test::ScratchDir& scratch, const std::string& name,
                         const std::vector<Entry>& entries) {
    std::vector<std::string> arguments{"-c", zipWriter, (scratch / name).string()};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string source = entries[i].bytes;
        if (!source.starts_with("zeros:")) {
            source = (scratch / ("part" + std::to_string(i))).string();
            test::writeBytes(source, entries[i].bytes);
        }
        arguments.insert(arguments.end(),
                         {entries[i].name, entries[i].deflated ? "deflated" : "stored", source,
                          entries[i].declaredSize});
    }
    const test::Outcome outcome = test::runProgram("/usr/bin/python3", arguments, scratch.path());
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    return scratch / name;
}

inline std::string page(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops"><head><title>t</title></head><body>)" +
           body + "</body></html>";
}

const std::string container = R"(<?xml version="1.0"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
<rootfiles><rootfile full-path="OPS/book.opf" media-type="application/oebps-package+xml"/></rootfiles>
</container>)";

// A package in OPS/ with these manifest items and spine references.
inline std::string package(const std::string& items, const std::string& spine) {
    return R"(<?xml version="1.0"?>
<package version="3.0" xmlns="http://www.idpf.org/2007/opf">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>Built</dc:title>
<dc:language>en</dc:language></metadata>
<manifest>)" +
           items + "</manifest><spine>" + spine + "</spine></package>";
}

// A small well-formed book whose pages, package and extra entries the case chooses.
inline std::vector<Entry> book(const std::string& packageXml, std::vector<Entry> pages) {
    std::vector<Entry> entries{
        {.name = "mimetype", .bytes = "application/epub+zip", .deflated = false},
        {.name = "META-INF/container.xml", .bytes = container},
        {.name = "OPS/book.opf", .bytes = packageXml}};
    entries.insert(entries.end(), pages.begin(), pages.end());
    return entries;
}

// What a reading gives, one line each: "# title" for a chapter, the text for a block.
class RecordingSink : public DocumentSink {
public:
    void chapter(std::string title) override { lines.push_back("# " + title); }
    void block(DocumentBlock block) override {
        std::string text;
        for (const DocumentRun& run : block.runs)
            text += run.text;
        lines.push_back(text);
    }
    std::vector<std::string> lines;
};

inline std::vector<std::string> readAll(const fs::path& file, DocumentOptions options = {}) {
    RecordingSink sink;
    openEpub(file, options)->read(sink);
    return sink.lines;
}

inline std::vector<std::string> chaptersOf(const std::vector<std::string>& lines) {
    std::vector<std::string> chapters;
    for (const std::string& line : lines)
        if (line.starts_with("# "))
            chapters.push_back(line.substr(2));
    return chapters;
}

} // namespace
} // namespace kestrova::speech
