#pragma once

#include "speech/text/readers/pdf/pdf_page.h"

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kestrova::speech::pdf {

// Decides what a hyphen that ends a line is: the break of one word ("connec-" "tions": read
// "connections") or a compound's own ("well-" "known": read "well-known"). It knows the words
// of the whole document, read where no line ends in them:
// 1. the compound written with its hyphen inside a line elsewhere: the hyphen is kept;
// 2. else the word written whole elsewhere: the parts are joined;
// 3. else the hyphen is kept where the part after it begins with a capital or a digit
//    ("Anglo-" "Saxon", "COVID-" "19") or where both parts are words found elsewhere;
// 4. else the parts are joined.
// A soft hyphen (U+00AD) at a line's end is a break the producer made: always joined.
class HyphenBreaks {
public:
    explicit HyphenBreaks(const std::vector<PdfPage>& pages);

    // Whether the hyphen between before (the line's last word, hyphen left off) and after
    // (the next line's first word) stays.
    bool keepsHyphen(std::string_view before, std::string_view after) const;

    // The words as compared: ASCII lower case, punctuation at either end left off.
    static std::string wordKey(std::string_view word);

private:
    void addLine(std::string_view text, bool afterBreak);

    std::unordered_set<std::string> words_;
    std::unordered_set<std::string> compounds_;
};

// Whether the line ends in a hyphen after a letter: where a word may be broken.
bool endsInBreakHyphen(std::string_view text);

} // namespace kestrova::speech::pdf
