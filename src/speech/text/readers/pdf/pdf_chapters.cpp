#include "speech/text/readers/pdf/pdf_chapters.h"

#include "speech/ascii.h"
#include "speech/base/clean_text.h"
#include "speech/text/readers/pdf/poppler_handle.h"

#include <cctype>
#include <memory>
#include <poppler-toc.h>

namespace kestrova::speech::pdf {
namespace {

// An outline deeper than this is no table of contents a listener follows.
constexpr int deepestOutline = 16;

void addTitles(const poppler::toc_item& item, int depth, std::vector<std::string>& titles) {
    if (depth > deepestOutline)
        return;
    for (const poppler::toc_item* child : item.children()) {
        std::string title = cleanText(utf8Of(child->title()));
        if (!title.empty())
            titles.push_back(std::move(title));
        addTitles(*child, depth + 1, titles);
    }
}

} // namespace

std::vector<std::string> outlineTitles(const poppler::document& document) {
    std::vector<std::string> titles;
    const std::unique_ptr<poppler::toc> toc(document.create_toc());
    if (toc && toc->root())
        addTitles(*toc->root(), 0, titles);
    return titles;
}

std::string ChapterPlacer::matchKey(std::string_view text) {
    std::string key;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || byte >= 0x80)
            key += asciiLower(c);
    }
    return key;
}

ChapterPlacer::ChapterPlacer(std::vector<std::string> outline, double bodySize)
    : outline_(std::move(outline)), placed_(outline_.size(), false), bodySize_(bodySize) {
    for (const std::string& title : outline_)
        keys_.push_back(matchKey(title));
}

std::optional<std::string> ChapterPlacer::chapterAt(const PdfParagraph& paragraph) {
    if (outline_.empty()) {
        const bool heading = paragraph.size >= 1.15 * bodySize_ && paragraph.lines <= 3 &&
                             paragraph.text.size() <= 200;
        return heading ? std::optional(cleanText(paragraph.text)) : std::nullopt;
    }
    if (next_ == keys_.size() || paragraph.text.size() > 1000)
        return std::nullopt;
    const std::string key = matchKey(paragraph.text);
    if (key.empty())
        return std::nullopt;
    for (std::size_t i = next_; i < keys_.size(); ++i)
        if (keys_[i] == key) {
            placed_[i] = true;
            next_ = i + 1;
            return outline_[i];
        }
    return std::nullopt;
}

std::vector<std::string> ChapterPlacer::unplaced() const {
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < outline_.size(); ++i)
        if (!placed_[i])
            titles.push_back(outline_[i]);
    return titles;
}

} // namespace kestrova::speech::pdf
