#include "speech/text/readers/pdf/hyphen_breaks.h"

#include "speech/ascii.h"

#include <cctype>

namespace kestrova::speech::pdf {
namespace {

bool isWordByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return std::isalnum(byte) || byte >= 0x80;
}

std::string_view lastWord(std::string_view text) {
    const std::size_t space = text.rfind(' ');
    return space == std::string_view::npos ? text : text.substr(space + 1);
}

std::string_view withoutHyphen(std::string_view word) {
    if (word.ends_with("\xE2\x80\x90")) // U+2010 HYPHEN
        word.remove_suffix(3);
    else if (word.ends_with('-'))
        word.remove_suffix(1);
    return word;
}

} // namespace

bool endsInBreakHyphen(std::string_view text) {
    const std::string_view word = withoutHyphen(lastWord(text));
    return word.size() < lastWord(text).size() && !word.empty() && isWordByte(word.back()) &&
           !std::isdigit(static_cast<unsigned char>(word.back()));
}

std::string HyphenBreaks::wordKey(std::string_view word) {
    // Quotation marks and other signs outside ASCII end a word as ASCII punctuation does.
    for (const std::string_view mark :
         {"\xE2\x80\x9C", "\xE2\x80\x9D", "\xE2\x80\x98", "\xE2\x80\x99", "\xC2\xAB", "\xC2\xBB"}) {
        if (word.starts_with(mark))
            word.remove_prefix(mark.size());
        if (word.ends_with(mark))
            word.remove_suffix(mark.size());
    }
    while (!word.empty() && !isWordByte(word.front()))
        word.remove_prefix(1);
    while (!word.empty() && !isWordByte(word.back()))
        word.remove_suffix(1);
    return asciiLower(word);
}

HyphenBreaks::HyphenBreaks(const std::vector<PdfPage>& pages) {
    bool afterBreak = false;
    for (const PdfPage& page : pages)
        for (const PdfLine& line : page.lines) {
            if (line.role == LineRole::Furniture)
                continue;
            addLine(line.text, afterBreak);
            afterBreak = endsInBreakHyphen(line.text);
        }
}

// Every word but the pieces a line's end may have broken: its last, when it ends in a
// hyphen, and the first of the line after.
void HyphenBreaks::addLine(std::string_view text, bool afterBreak) {
    const bool brokenEnd = endsInBreakHyphen(text);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos)
            end = text.size();
        const bool first = start == 0;
        const bool last = end == text.size();
        if (!(first && afterBreak) && !(last && brokenEnd)) {
            std::string key = wordKey(text.substr(start, end - start));
            if (key.find('-') != std::string::npos)
                compounds_.insert(std::move(key));
            else if (!key.empty())
                words_.insert(std::move(key));
        }
        start = end + 1;
    }
}

bool HyphenBreaks::keepsHyphen(std::string_view before, std::string_view after) const {
    const std::string first = wordKey(before);
    const std::string second = wordKey(after);
    if (compounds_.contains(first + "-" + second))
        return true;
    if (words_.contains(first + second))
        return false;
    const auto lead = static_cast<unsigned char>(after.empty() ? 'a' : after.front());
    if (std::isupper(lead) || std::isdigit(lead))
        return true;
    return words_.contains(first) && words_.contains(second);
}

} // namespace kestrova::speech::pdf
