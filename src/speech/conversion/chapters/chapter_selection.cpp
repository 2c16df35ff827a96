#include "speech/chapter_selection.h"

#include <charconv>
#include <limits>
#include <stdexcept>

namespace kestrova::speech {
namespace {

// Decimal digits only: no sign, no spaces, no other base.
unsigned chapterNumber(std::string_view digits, std::string_view item) {
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        throw std::invalid_argument("\"" + std::string(item) +
                                    "\" is not a chapter number or a range of them");
    return number;
}

} // namespace

ChapterSelection ChapterSelection::parse(std::string_view ranges) {
    ChapterSelection selection;
    selection.text_ = ranges;
    std::size_t start = 0;
    while (start <= ranges.size()) {
        std::size_t comma = ranges.find(',', start);
        if (comma == std::string_view::npos)
            comma = ranges.size();
        const std::string_view item = ranges.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        Range range{};
        range.first = chapterNumber(item.substr(0, dash), item);
        range.last = dash == std::string_view::npos ? range.first
                     : dash + 1 == item.size()      ? std::numeric_limits<unsigned>::max()
                                                    : chapterNumber(item.substr(dash + 1), item);
        if (range.last < range.first)
            throw std::invalid_argument("the range \"" + std::string(item) +
                                        "\" ends before it begins");
        selection.ranges_.push_back(range);
        start = comma + 1;
    }
    return selection;
}

bool ChapterSelection::contains(unsigned chapter) const {
    if (ranges_.empty())
        return true;
    for (const Range& range : ranges_)
        if (chapter >= range.first && chapter <= range.last)
            return true;
    return false;
}

} // namespace kestrova::speech
