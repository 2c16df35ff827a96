#pragma once

#include "speech/text/lexicon/regular_expression.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// Finds the headings of a text as it streams past: a heading is a paragraph of one line
// (blank lines, or the text's edges, before and after it) that the pattern matches. Positions
// are bytes of the text pushed, as TextChunker counts them. A line is settled only when the
// line after it is seen, so a caller asks about a position once resolvedEnd() has passed it.
class HeadingFinder {
public:
    struct Heading {
        std::uint64_t start = 0; // the line's first byte other than white space
        std::uint64_t end = 0;   // one past its last
        std::string title;       // the line as read; a Markdown heading without its #s
    };

    explicit HeadingFinder(std::string_view pattern);

    void push(std::string_view text);
    void finish();

    // Every position before this one is settled.
    std::uint64_t resolvedEnd() const;
    // The heading whose line holds the position, if it is one.
    const Heading* headingAt(std::uint64_t position) const;
    unsigned count() const { return static_cast<unsigned>(headings_.size()); }

private:
    void endLine();

    RegularExpression pattern_;
    std::uint64_t position_ = 0;       // bytes pushed so far
    std::uint64_t lineStart_ = 0;      // where the line being read began
    std::string line_;                 // the line being read
    bool previousBlank_ = true;        // the line before it was blank, or there was none
    std::optional<Heading> candidate_; // a one-line paragraph so far, if it matches
    std::uint64_t candidateStart_ = 0;
    bool haveCandidate_ = false;
    bool finished_ = false;
    std::vector<Heading> headings_;
};

} // namespace kestrova::speech
