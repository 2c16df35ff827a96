#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A Markdown text cut, before cmark sees it, into sections that are parsed one at a time:
// cmark builds its whole tree before it returns, a few hundred bytes a node and seconds for
// the largest files, with no way to stop it. Each section is parsed, read and freed before the
// next, the cancel flag looked at between them, so the tree and the time between two looks stay
// those of one section.
namespace kestrova::speech {

struct MarkdownSectionLimits {
    std::size_t bytes = std::size_t{4} << 20;
    // Marks of markup, line ends and the letters autolinks start at ("w", ":", "@"): cmark's
    // nodes. 200 000 of the densest kind parse in about a quarter of a second.
    std::size_t marks = 200'000;
    // cmark-gfm's time on a table row grows with the square of its cells (50 000 cells: 28 s).
    std::size_t rowCells = 256;
};

// Where a section lies in the text, and the reference and footnote definitions it uses that
// stand in other sections, to be parsed after it (a reference is resolved in its own parse).
struct MarkdownSection {
    std::size_t begin = 0;
    std::size_t end = 0;
    int firstLine = 1; // the text's line its first byte stands on, from 1
    int lines = 0;     // the lines of the text it holds
    std::string definitions;
};

// What cannot be read: the text's line, and the reason.
struct MarkdownSectionFault {
    int line = 1;
    std::string reason;
};

// One section for the whole text when it is within the limits, as any ordinary document is;
// else sections cut at blank lines that begin a block at the margin, outside fenced code and
// HTML blocks. A block that cannot be cut within the limits, or a table row of more cells,
// is a fault.
struct MarkdownSections {
    std::vector<MarkdownSection> sections;
    std::optional<MarkdownSectionFault> fault;
};
MarkdownSections markdownSections(std::string_view text, const MarkdownSectionLimits& limits = {});

} // namespace kestrova::speech
