#include "speech/text/readers/pdf/page_furniture.h"

#include "speech/ascii.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <string>
#include <utility>

namespace kestrova::speech::pdf {
namespace {

constexpr double sameHeight = 8; // points
constexpr std::size_t edgeLines = 2;

// The line's text as a running head repeats it: lower case, digits and spaces left out.
std::string headKey(std::string_view text) {
    std::string key;
    for (const char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != ' ')
            key += asciiLower(c);
    return key;
}

// The indices of the lines near the page's top and bottom edges.
std::vector<std::size_t> edgeLinesOf(const PdfPage& page) {
    std::vector<std::size_t> order(page.lines.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return page.lines[a].top < page.lines[b].top; });
    std::vector<std::size_t> edges;
    const double band = page.height / 5;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const PdfLine& line = page.lines[order[k]];
        const bool nearTop = k < edgeLines && line.top < band;
        const bool nearBottom = k + edgeLines >= order.size() && line.bottom > page.height - band;
        if (nearTop || nearBottom)
            edges.push_back(order[k]);
    }
    return edges;
}

std::string_view trimmed(std::string_view text, std::string_view marks) {
    while (!text.empty() && marks.find(text.front()) != std::string_view::npos)
        text.remove_prefix(1);
    while (!text.empty() && marks.find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    return text;
}

// A roman numeral in its one written form: "xiv", not "xiiii" nor a word such as "mix".
bool isRomanNumeral(std::string_view text) {
    constexpr std::pair<int, std::string_view> values[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    const std::string lower = asciiLower(text);
    int value = 0;
    std::string_view rest = lower;
    for (const auto& [amount, letters] : values)
        while (rest.starts_with(letters)) {
            value += amount;
            rest.remove_prefix(letters.size());
        }
    if (!rest.empty() || value == 0 || value > 100)
        return false;
    std::string written;
    for (const auto& [amount, letters] : values)
        for (; value >= amount; value -= amount)
            written += letters;
    return written == lower;
}

bool isNumeral(std::string_view text) {
    if (text.empty() || text.size() > 8)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
           isRomanNumeral(text);
}

} // namespace

bool isPageNumber(std::string_view text) {
    // Dashes as ASCII or as the en and em dashes' bytes, brackets and spaces around.
    constexpr std::string_view around = " -()[]\xE2\x80\x93\x94";
    text = trimmed(text, around);
    if (startsWithIgnoringAsciiCase(text, "page "))
        text = trimmed(text.substr(5), around);
    for (const std::string_view separator : {" of ", "/"})
        if (const std::size_t at = text.find(separator); at != std::string_view::npos) {
            if (!isNumeral(trimmed(text.substr(at + separator.size()), " ")))
                return false;
            text = trimmed(text.substr(0, at), " ");
        }
    return isNumeral(text);
}

void markFurniture(std::vector<PdfPage>& pages) {
    std::vector<std::vector<std::size_t>> edges;
    std::map<std::string, std::vector<double>> heights; // a key's tops, one a page
    for (const PdfPage& page : pages) {
        edges.push_back(edgeLinesOf(page));
        std::map<std::string, bool> seen;
        for (const std::size_t i : edges.back()) {
            std::string key = headKey(page.lines[i].text);
            if (!key.empty() && !seen[key]) {
                seen[key] = true;
                heights[key].push_back(page.lines[i].top);
            }
        }
    }
    const std::size_t needed = std::max<std::size_t>(3, (pages.size() + 1) / 2);
    for (std::size_t p = 0; p < pages.size(); ++p)
        for (const std::size_t i : edges[p]) {
            PdfLine& line = pages[p].lines[i];
            const auto found = heights.find(headKey(line.text));
            const std::size_t near =
                found == heights.end()
                    ? 0
                    : std::count_if(found->second.begin(), found->second.end(), [&](double top) {
                          return std::abs(top - line.top) <= sameHeight;
                      });
            if (isPageNumber(line.text) || near >= needed)
                line.role = LineRole::Furniture;
        }
}

} // namespace kestrova::speech::pdf
