#pragma once

#include "speech/text/readers/document.h"

#include <cstddef>
#include <cstdint>
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
//
// CommonMark with GitHub's tables, strike-through and autolinks (cmark-gfm). Front matter
// gives the metadata (front_matter.h); else the first level-1 heading is the title.
// Headings of level 1-2 begin chapters. Blocks: headings, paragraphs (in lists, block quotes
// and, with readNotes, footnotes too), table rows with their cells joined by ", ", and code
// blocks with readCode. Inlines are read as their text: never a link's URL (an autolink's
// text is its URL, and that is read, as it is shown), an image's alt text with readAlt only,
// inline code as its text, soft and hard breaks as spaces. Raw HTML is not read: HTML blocks
// are left out (one warning tells how many) and inline tags are dropped, the text between
// them read. Ordered lists' numbers and thematic breaks are not read, nor what pandoc writes
// around the text: the attributes of a heading ("{#id .class}") or of a bracketed span
// ("[words]{.class}"), and the lines of fenced divs (":::").
//
// Places: cmark gives each node its line and byte column; a text node's or code span's text
// found among the node's bytes is placed exactly, byte by byte, and one that cmark changed
// (entities, backslash escapes, a code span across lines) at its node's first byte. A file that
// is not UTF-8 is decoded as plain text is (UTF-16 by its mark, else Windows-1252) and then
// has no places.
std::unique_ptr<StructuredDocument> readMarkdown(std::string bytes, const std::string& name,
                                                 const DocumentOptions& options);

} // namespace kestrova::speech
