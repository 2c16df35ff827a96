#pragma once

#include "speech/text/document.h"

#include <cstddef>
#include <memory>
#include <string>

namespace kestrova::speech {

// The largest Markdown file read, and the deepest nesting of its blocks and inlines (block
// quotes, lists, emphasis, links) taken together: cmark's tree takes many times the file's
// size, so a file past these is refused rather than read.
inline constexpr std::uint64_t markdownMaxBytes = std::uint64_t{64} << 20;
inline constexpr int markdownMaxDepth = 128;
// cmark's tree takes a few hundred bytes a node, and nearly every node stands on a mark of
// markup or a line end: counting them before parsing bounds the tree's memory (under 1 GB),
// where the file's size alone would not ("*a* " repeated takes 200 times its size).
inline constexpr std::size_t markdownMaxMarks = 2'000'000;

// A Markdown document already in memory, bytes as a file holds them; name stands for the
// file in messages. openMarkdown() reads its file into this.
std::unique_ptr<StructuredDocument> readMarkdown(std::string bytes, const std::string& name,
                                                 const DocumentOptions& options);

} // namespace kestrova::speech
