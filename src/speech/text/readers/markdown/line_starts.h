#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace kestrova::speech::markdown {

// The byte offsets of cmark's places (line and byte column, from 1), lines ending as cmark
// ends them: at "\n", "\r\n" or "\r".
class LineStarts {
public:
    explicit LineStarts(std::string_view text) : size_(text.size()) {
        starts_.push_back(0);
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n' ||
                (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
                starts_.push_back(i + 1);
    }

    std::size_t offsetOf(int line, int column) const {
        if (line < 1 || column < 1)
            return 0;
        const std::size_t index =
            std::min<std::size_t>(static_cast<std::size_t>(line) - 1, starts_.size() - 1);
        // Within the text whatever cmark says: a place is always one of its bytes.
        return std::min(starts_[index] + static_cast<std::size_t>(column) - 1,
                        size_ == 0 ? 0 : size_ - 1);
    }

private:
    std::vector<std::size_t> starts_;
    std::size_t size_;
};

} // namespace kestrova::speech::markdown
