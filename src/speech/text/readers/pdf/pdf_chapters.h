#pragma once

#include "speech/text/readers/pdf/paragraph_joiner.h"

#include <cstddef>
#include <optional>
#include <poppler-document.h>
#include <string>
#include <vector>

namespace kestrova::speech::pdf {

// The titles of the document's outline (its bookmarks), every level in order, cleaned.
std::vector<std::string> outlineTitles(const poppler::document& document);

// Where chapters begin. poppler gives an outline's titles without their places, so each title
// begins the chapter at the first paragraph, after the last one placed, whose text is the
// title's, letter case, spaces and punctuation aside; a title found nowhere begins none.
// Without an outline, a paragraph is a chapter's heading where it is short (three lines and
// 200 bytes at most) and set clearly larger than the body (by 15%).
class ChapterPlacer {
public:
    ChapterPlacer(std::vector<std::string> outline, double bodySize);

    // The title of the chapter that this paragraph, the next of the reading, begins.
    std::optional<std::string> chapterAt(const PdfParagraph& paragraph);
    // The outline's titles not placed (once the reading is through).
    std::vector<std::string> unplaced() const;

private:
    static std::string matchKey(std::string_view text);

    std::vector<std::string> outline_;
    std::vector<std::string> keys_;
    std::vector<bool> placed_;
    std::size_t next_ = 0;
    double bodySize_;
};

} // namespace kestrova::speech::pdf
