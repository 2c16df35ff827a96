#include "speech/text/readers/html/xhtml_block_text.h"

#include "speech/base/clean_text.h"
#include "speech/base/utf8.h"

#include <algorithm>

namespace kestrova::speech::xhtml {

namespace {

constexpr std::string_view noBreakSpace = "\xC2\xA0";

// The length of the white space at text's start: ASCII's, the controls (C1's too) as every
// reader takes them, and the no-break space that books use to indent and to space out marks;
// 0: none.
std::size_t whiteSpaceAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return isGapCharacter(lead) ? 1 : 0;
    if (lead != 0xC2 && lead != 0xE2) // no gap character leads with another byte
        return 0;
    if (text.substr(at, 2) == noBreakSpace)
        return 2;
    const CodePoint character = codePointAt(text.substr(at));
    return isGapCharacter(character.value) ? character.length : 0;
}

constexpr std::string_view softHyphen = "\xC2\xAD";

// Steps through a text node's places as its bytes are read in order.
class PlaceCursor {
public:
    explicit PlaceCursor(const TextPlaces& places) : places_(places) {}
    std::optional<std::uint64_t> at(std::size_t byte) {
        if (places_.empty())
            return std::nullopt;
        while (next_ < places_.size() && places_[next_].first <= byte)
            ++next_;
        const auto& [first, place] = places_[next_ == 0 ? 0 : next_ - 1];
        return byte >= first ? place + (byte - first) : place;
    }

private:
    const TextPlaces& places_;
    std::size_t next_ = 0;
};

} // namespace

void BlockText::append(std::string_view text, const std::string& language,
                       const TextPlaces& places) {
    PlaceCursor cursor(places);
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t space = whiteSpaceAt(text, at); space > 0) {
            const bool noBreak = text.substr(at, space) == noBreakSpace;
            if (!runs_.empty() && !pendingSpace_) {
                pendingSpace_ = true;
                pendingNoBreak_ = noBreak;
                pendingSpacePlace_ = cursor.at(at);
            } else {
                pendingNoBreak_ = pendingNoBreak_ && noBreak;
            }
            at += space;
            continue;
        }
        if (text.substr(at, 2) == softHyphen) { // a place to break a word, never read
            at += softHyphen.size();
            continue;
        }
        put(text[at], cursor.at(at), language);
        ++at;
    }
}

void BlockText::appendUnplaced(std::string_view text, const std::string& language) {
    append(text, language, {});
}

void BlockText::separate() {
    if (!runs_.empty() && !pendingSpace_) {
        pendingSpace_ = true;
        pendingSpacePlace_.reset();
    }
    pendingNoBreak_ = false;
}

void BlockText::beginInline() {
    if (runs_.empty() || pendingSpace_ ||
        std::string_view("([{").find(runs_.back().text.back()) == std::string_view::npos)
        separate();
}

void BlockText::separateInline() {
    separate();
    pendingInline_ = pendingSpace_;
}

void BlockText::separateCell() {
    pendingCell_ = !runs_.empty();
}

void BlockText::put(char byte, std::optional<std::uint64_t> place, const std::string& language) {
    const bool newRun = runs_.empty() || runs_.back().language != language;
    if (pendingCell_) {
        DocumentRun& last = runs_.back();
        if (std::string_view(".,;:!?").find(last.text.back()) == std::string_view::npos)
            push(last, ',', std::nullopt);
        pendingSpace_ = true;
        pendingNoBreak_ = false;
        pendingCell_ = false;
        pendingInline_ = false;
    }
    // A formula's space before the mark that closes its sentence or bracket is not kept.
    const bool closing = std::string_view(".,;:!?)]").find(byte) != std::string_view::npos;
    if (pendingSpace_ && !runs_.empty() && !(pendingInline_ && closing)) {
        if (pendingNoBreak_) {
            // No-break spaces alone between two words stay one, as plain text keeps it: it
            // binds "Mr." to the name after it, where a sentence would otherwise end.
            push(runs_.back(), noBreakSpace[0], pendingSpacePlace_);
            push(runs_.back(), noBreakSpace[1], std::nullopt);
        } else {
            push(runs_.back(), ' ', pendingSpacePlace_);
        }
    }
    pendingSpace_ = false;
    pendingNoBreak_ = false;
    pendingInline_ = false;
    pendingSpacePlace_.reset();
    if (newRun)
        runs_.push_back({.text = {}, .language = language, .sourceBytes = {}});
    push(runs_.back(), byte, place);
}

void BlockText::push(DocumentRun& run, char byte, std::optional<std::uint64_t> place) {
    const std::size_t at = run.text.size();
    run.text.push_back(byte);
    if (!place)
        return; // it follows on from the byte before it, as near as is known
    auto& places = run.sourceBytes;
    if (places.empty() && at > 0)
        places.emplace_back(0, *place); // the bytes before, unplaced, stand with this one
    if (places.empty() || places.back().second + (at - places.back().first) != *place)
        places.emplace_back(at, *place);
}

std::string BlockText::text() const {
    std::string joined;
    for (const DocumentRun& run : runs_)
        joined += run.text;
    return joined;
}

std::vector<DocumentRun> BlockText::take() {
    std::vector<DocumentRun> runs = std::move(runs_);
    runs_.clear();
    pendingSpace_ = false;
    pendingNoBreak_ = false;
    pendingCell_ = false;
    pendingInline_ = false;
    pendingSpacePlace_.reset();
    return runs;
}

} // namespace kestrova::speech::xhtml
