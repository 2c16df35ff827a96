#include "speech/text/readers/pdf/line_spacing.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kestrova::speech::pdf {

int LineSpacing::sizeKey(double size) {
    return static_cast<int>(std::lround(size * 2));
}

LineSpacing::LineSpacing(const std::vector<PdfPage>& pages) {
    std::map<int, std::vector<double>> measured;
    for (const PdfPage& page : pages)
        for (std::size_t i = 1; i < page.lines.size(); ++i) {
            const PdfLine& before = page.lines[i - 1];
            const PdfLine& line = page.lines[i];
            const double advance = line.top - before.top;
            if (line.role == LineRole::Body && before.role == LineRole::Body &&
                sizeKey(line.size) == sizeKey(before.size) && advance > 0 &&
                advance < 3 * line.size)
                measured[sizeKey(line.size)].push_back(advance);
        }
    for (auto& [key, advances] : measured) {
        const auto middle = advances.begin() + static_cast<std::ptrdiff_t>(advances.size() / 2);
        std::nth_element(advances.begin(), middle, advances.end());
        advances_[key] = *middle;
    }
}

double LineSpacing::advance(double size) const {
    const auto found = advances_.find(sizeKey(size));
    return found == advances_.end() ? 1.2 * size : found->second;
}

double bodySize(const std::vector<PdfPage>& pages) {
    std::map<int, std::size_t> characters;
    for (const PdfPage& page : pages)
        for (const PdfLine& line : page.lines)
            if (line.role == LineRole::Body)
                characters[static_cast<int>(std::lround(line.size * 2))] += line.text.size();
    if (characters.empty())
        return 0;
    const auto most =
        std::max_element(characters.begin(), characters.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    return most->first / 2.0;
}

} // namespace kestrova::speech::pdf
