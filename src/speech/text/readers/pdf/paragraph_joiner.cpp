#include "speech/text/readers/pdf/paragraph_joiner.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrova::speech::pdf {
namespace {

constexpr std::string_view softHyphen = "\xC2\xAD";

bool sameSize(double a, double b) {
    return std::abs(a - b) <= 0.1 * std::max(a, b);
}

std::string_view firstWord(std::string_view text) {
    return text.substr(0, text.find(' '));
}

void eraseSoftHyphens(std::string& text) {
    for (std::size_t at = text.find(softHyphen); at != std::string::npos;
         at = text.find(softHyphen, at))
        text.erase(at, softHyphen.size());
}

} // namespace

long PageEdges::leftKey(double left) {
    return std::lround(left / 4);
}

PageEdges::PageEdges(const PdfPage& page) {
    for (const PdfLine& line : page.lines)
        if (line.role != LineRole::Furniture) {
            double& right = rights_[leftKey(line.left)];
            right = std::max(right, line.right);
        }
}

bool PageEdges::isFull(const PdfLine& line) const {
    const auto found = rights_.find(leftKey(line.left));
    return found == rights_.end() || line.right >= found->second - 1.5 * line.size;
}

ParagraphJoiner::ParagraphJoiner(const HyphenBreaks& hyphens, const LineSpacing& spacing,
                                 std::function<void(PdfParagraph)> done)
    : hyphens_(hyphens), spacing_(spacing), done_(std::move(done)) {}

bool ParagraphJoiner::breaksBefore(const PdfLine& line, std::size_t page) const {
    if (!sameSize(line.size, last_.size))
        return true;
    // On into the next page or up into the next column only from a line that reaches its edge.
    if (page != lastPage_ || line.top < last_.top - 1)
        return !lastFull_;
    if (line.top - last_.top > 1.25 * spacing_.advance(last_.size) + 0.5)
        return true;
    const bool indented = line.left > last_.left + 0.9 * last_.size;
    return indented && (open_->lines >= 2 || !lastFull_);
}

void ParagraphJoiner::add(const PdfLine& line, std::size_t page, const PageEdges& edges,
                          const std::string& label, bool breakBefore) {
    if (open_ && (breakBefore || breaksBefore(line, page)))
        close();
    if (!open_)
        open_ = PdfParagraph{.text = {}, .size = line.size, .lines = 0, .page = label};
    append(line.text);
    ++open_->lines;
    const bool sameColumn = open_->lines > 1 && page == lastPage_ && line.top >= last_.top - 1;
    columnRight_ = sameColumn ? std::max(columnRight_, line.right) : line.right;
    columnLines_ = sameColumn ? columnLines_ + 1 : 1;
    // A paragraph's own lines tell where its column ends, better than the page's lines that
    // begin where it begins (a column under a full-width paragraph begins where that does).
    lastFull_ =
        columnLines_ >= 2 ? line.right >= columnRight_ - 1.5 * line.size : edges.isFull(line);
    last_ = line;
    lastPage_ = page;
}

void ParagraphJoiner::append(const std::string& text) {
    std::string& paragraph = open_->text;
    if (paragraph.empty()) {
        paragraph = text;
    } else if (paragraph.ends_with(softHyphen)) {
        paragraph.erase(paragraph.size() - softHyphen.size());
        paragraph += text;
    } else if (endsInBreakHyphen(paragraph)) {
        const std::size_t space = paragraph.rfind(' ');
        std::string_view before(paragraph);
        before.remove_prefix(space == std::string::npos ? 0 : space + 1);
        const std::size_t hyphen = paragraph.ends_with('-') ? 1 : 3;
        before.remove_suffix(hyphen);
        if (!hyphens_.keepsHyphen(before, firstWord(text)))
            paragraph.erase(paragraph.size() - hyphen);
        paragraph += text;
    } else {
        paragraph += ' ';
        paragraph += text;
    }
}

void ParagraphJoiner::hold(PdfParagraph paragraph) {
    if (open_)
        held_.push_back(std::move(paragraph));
    else
        done_(std::move(paragraph));
}

void ParagraphJoiner::close() {
    if (!open_)
        return;
    eraseSoftHyphens(open_->text);
    PdfParagraph done = std::move(*open_);
    open_.reset();
    if (!done.text.empty())
        done_(std::move(done));
    for (PdfParagraph& held : held_)
        done_(std::move(held));
    held_.clear();
}

void ParagraphJoiner::finish() {
    close();
}

} // namespace kestrova::speech::pdf
