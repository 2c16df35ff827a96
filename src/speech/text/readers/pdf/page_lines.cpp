#include "speech/text/readers/pdf/page_lines.h"

#include "speech/base/clean_text.h"
#include "speech/text/readers/pdf/poppler_handle.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <string_view>
#include <utility>

namespace kestrova::speech::pdf {
namespace {

struct Box {
    std::string text;
    double left, right, top, bottom, size;
    bool spaceAfter;
};

// Ligatures spelt out: a voice reads "ﬁnd" as it reads "find" only when it is written so.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> spelledOut{{
    {"\xEF\xAC\x80", "ff"},
    {"\xEF\xAC\x81", "fi"},
    {"\xEF\xAC\x82", "fl"},
    {"\xEF\xAC\x83", "ffi"},
    {"\xEF\xAC\x84", "ffl"},
    {"\xEF\xAC\x85", "st"},
    {"\xEF\xAC\x86", "st"},
    {"\xC2\xAD", ""}, // a soft hyphen inside a word; one ending a line is kept for the joiner
}};

// A list's bullet, set apart from its item: it says nothing, and poppler may place it
// anywhere in the reading order (after a table beside the list, say).
bool isListMark(std::string_view text) {
    constexpr std::array<std::string_view, 11> marks = {
        "\xE2\x80\xA2", "\xE2\x97\xA6", "\xE2\x96\xAA", "\xE2\x97\x8F",
        "\xE2\x80\xA3", "\xE2\x81\x83", "\xC2\xB7",     "\xE2\x96\xA0",
        "\xE2\x97\x8B", "\xE2\x88\x99", "\xEF\x82\xB7"}; // the last: the Symbol font's bullet, in
                                                         // the private use area
    for (bool found = true; found && !text.empty();) {
        found = false;
        for (const std::string_view mark : marks)
            if (text.starts_with(mark)) {
                text.remove_prefix(mark.size());
                found = true;
            }
        while (!text.empty() && text.front() == ' ')
            text.remove_prefix(1);
    }
    return text.empty();
}

std::string boxText(const poppler::text_box& box) {
    std::string text = utf8Of(box.text());
    const bool softHyphenEnd = text.ends_with("\xC2\xAD");
    for (const auto& [from, to] : spelledOut)
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
            text.replace(at, from.size(), to);
    return softHyphenEnd ? text + "\xC2\xAD" : text;
}

Box boxOf(const poppler::text_box& box) {
    const poppler::rectf area = box.bbox();
    const double height = area.height();
    return {.text = boxText(box),
            .left = area.left(),
            .right = area.right(),
            .top = area.top(),
            .bottom = area.bottom(),
            .size =
                box.has_font_info() && box.get_font_size() > 0 ? box.get_font_size() : height / 1.3,
            .spaceAfter = box.has_space_after()};
}

// Whether the box stands on the line's band: its middle between the line's top and bottom,
// and to the right of the box before it.
bool onLine(const std::vector<Box>& line, const Box& box) {
    const Box& last = line.back();
    const double middle = (box.top + box.bottom) / 2;
    const double top = std::min(last.top, line.front().top);
    const double bottom = std::max(last.bottom, line.front().bottom);
    return middle >= top && middle <= bottom && box.left >= last.left;
}

// The size that most of the line's characters have.
double mainSize(const std::vector<Box>& line) {
    std::map<double, std::size_t> characters;
    for (const Box& box : line)
        characters[box.size] += box.text.size();
    return std::max_element(characters.begin(), characters.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
}

bool isRaisedMark(const Box& box, double size, double bottom) {
    return box.size < 0.8 * size && box.bottom < bottom - 0.15 * (box.bottom - box.top) &&
           isNoteMark(box.text);
}

PdfLine lineOf(const std::vector<Box>& boxes, bool keepNoteMarks, std::size_t& marks) {
    const double size = mainSize(boxes);
    double bottom = 0;
    for (const Box& box : boxes)
        if (box.size == size)
            bottom = std::max(bottom, box.bottom);
    std::vector<const Box*> kept;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (i > 0 && !keepNoteMarks && isRaisedMark(boxes[i], size, bottom)) {
            ++marks;
            continue;
        }
        kept.push_back(&boxes[i]);
    }
    PdfLine line{.text = {},
                 .left = kept.front()->left,
                 .right = kept.back()->right,
                 .top = kept.front()->top,
                 .bottom = kept.front()->bottom,
                 .size = size,
                 .role = LineRole::Body};
    for (std::size_t i = 0; i < kept.size(); ++i) {
        line.text += kept[i]->text;
        line.top = std::min(line.top, kept[i]->top);
        line.bottom = std::max(line.bottom, kept[i]->bottom);
        if (i + 1 < kept.size() &&
            (kept[i]->spaceAfter || kept[i + 1]->left - kept[i]->right > size / 6))
            line.text += ' ';
    }
    line.text = cleanText(line.text);
    return line;
}

} // namespace

bool isNoteMark(const std::string& text) {
    for (const std::string_view sign :
         {"*", "\xE2\x80\xA0", "\xE2\x80\xA1", "\xC2\xA7", "\xC2\xB6"})
        if (text == sign)
            return true;
    return !text.empty() && text.size() <= 8 && std::isdigit(static_cast<unsigned char>(text[0])) &&
           text.find_first_not_of("0123456789,-") == std::string::npos;
}

PdfPage pageLines(std::vector<poppler::text_box> boxes, bool keepNoteMarks) {
    PdfPage page;
    std::vector<Box> line;
    const auto endLine = [&] {
        if (!line.empty()) {
            PdfLine made = lineOf(line, keepNoteMarks, page.noteMarks);
            if (!made.text.empty())
                page.lines.push_back(std::move(made));
        }
        line.clear();
    };
    for (const poppler::text_box& box : boxes) {
        // Text set sideways (a stamp up a margin) is no part of the page's reading.
        if (box.rotation() != 0 || box.get_wmode() == poppler::text_box::vertical_wmode)
            continue;
        Box made = boxOf(box);
        if (cleanText(made.text).empty() || isListMark(made.text))
            continue;
        if (!line.empty() && !onLine(line, made))
            endLine();
        line.push_back(std::move(made));
    }
    endLine();
    return page;
}

} // namespace kestrova::speech::pdf
