#include "heading_finder.h"

#include <algorithm>

namespace kestrova::speech {
namespace {

bool isBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Lines past this length are no headings; holding them whole would only cost memory.
constexpr std::size_t longestHeading = 1000;

} // namespace

HeadingFinder::HeadingFinder(std::string_view pattern) : pattern_(pattern) {}

void HeadingFinder::push(std::string_view text) {
    for (char c : text) {
        ++position_;
        if (c == '\n')
            endLine();
        else if (line_.size() <= longestHeading)
            line_.push_back(c);
    }
}

void HeadingFinder::finish() {
    endLine();
    // The last line, if it was a one-line paragraph, ends at the text's end.
    if (haveCandidate_ && candidate_)
        headings_.push_back(std::move(*candidate_));
    candidate_.reset();
    haveCandidate_ = false;
    finished_ = true;
}

// A line is complete: it settles the one before it.
void HeadingFinder::endLine() {
    const bool blank = isBlank(line_);
    if (blank) {
        if (haveCandidate_ && candidate_)
            headings_.push_back(std::move(*candidate_));
        candidate_.reset();
        haveCandidate_ = false;
    } else if (previousBlank_ && line_.size() <= longestHeading) {
        // Begins a paragraph: a heading if no second line follows and the pattern matches.
        haveCandidate_ = true;
        candidateStart_ = lineStart_;
        const std::size_t first = line_.find_first_not_of(" \t");
        const std::size_t last = line_.find_last_not_of(" \t");
        const std::string_view text = std::string_view(line_).substr(first, last + 1 - first);
        candidate_.reset();
        if (pattern_.find(text))
            candidate_ = Heading{lineStart_ + first, lineStart_ + last + 1, std::string(text)};
        if (candidate_ && candidate_->title.starts_with('#')) {
            std::string& title = candidate_->title;
            title.erase(0, std::min(title.find_first_not_of("# \t"), title.size()));
        }
    } else {
        candidate_.reset();
        haveCandidate_ = false;
    }
    previousBlank_ = blank;
    line_.clear();
    lineStart_ = position_;
}

std::uint64_t HeadingFinder::resolvedEnd() const {
    if (finished_)
        return position_;
    return haveCandidate_ ? candidateStart_ : lineStart_;
}

const HeadingFinder::Heading* HeadingFinder::headingAt(std::uint64_t position) const {
    const auto found =
        std::upper_bound(headings_.begin(), headings_.end(), position,
                         [](std::uint64_t at, const Heading& heading) { return at < heading.end; });
    return found != headings_.end() && found->start <= position ? &*found : nullptr;
}

} // namespace kestrova::speech
