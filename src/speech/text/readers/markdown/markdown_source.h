#pragma once

#include "speech/text/readers/document.h"

#include <cstdint>
#include <filesystem>
#include <string>

// The Markdown reader's text, from the file to what cmark reads, and its failures.
namespace kestrova::speech::markdown {

// The Markdown as cmark reads it: UTF-8, without a byte order mark or front matter.
struct MarkdownSource {
    std::string text;
    std::uint64_t offset = 0; // where text begins in the file
    bool placesKnown = true;  // text holds the file's own bytes from offset on
    int firstLine = 1;        // the file's line text begins on
    DocumentMetadata frontMatter;
};

// "cannot read the text file NAME: REASON".
[[noreturn]] void refuse(const std::string& name, const std::string& reason);
// Throws ConversionCancelled naming the file once the cancel flag is set.
void checkCancelled(const DocumentOptions& options, const std::string& name);

// The source, unless it holds too much markup to parse within the memory allowed.
MarkdownSource checkedSource(std::string bytes, const std::string& name,
                             const DocumentOptions& options);

// The file's own bytes, at most markdownMaxBytes.
std::string wholeFile(const std::filesystem::path& file, const DocumentOptions& options);

} // namespace kestrova::speech::markdown
