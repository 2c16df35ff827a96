#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// Which chapters of a book a conversion renders, by the book's own numbers (0: the text
// before the first heading): "3", "2-5", "1,4,7-". Empty: every chapter.
class ChapterSelection {
public:
    ChapterSelection() = default;

    // Throws std::invalid_argument, saying what is wrong, for anything but decimal numbers and
    // ranges separated by commas, a range's first number at most its last.
    static ChapterSelection parse(std::string_view ranges);

    bool empty() const { return ranges_.empty(); }
    bool contains(unsigned chapter) const;
    // As it was given, for messages.
    const std::string& text() const { return text_; }

private:
    struct Range {
        unsigned first;
        unsigned last;
    };
    std::vector<Range> ranges_;
    std::string text_;
};

} // namespace kestrova::speech
