#pragma once

#include "speech/base/utf8.h"
#include "speech/text/readers/document.h"
#include "speech/text/readers/markdown/cmark_nodes.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::speech::markdown {

// Where a piece of text stands in the file; exact: each of its bytes at at + its index.
struct Place {
    std::uint64_t at = 0;
    bool exact = false;
};

// A block's text as it is read, white space and control characters collapsed to single
// spaces, with the places of its pieces.
class RunBuilder {
public:
    void space() { pendingSpace_ = !text_.empty(); }
    // ", " before the next text, if there was text before: between a table row's cells.
    void pause() { pendingPause_ = !text_.empty(); }

    // Appends piece character by character; a byte that is no UTF-8 (cmark cuts a long label
    // at a byte count, within a character) becomes U+FFFD.
    void append(std::string_view piece, std::optional<Place> place) {
        bool placed = false;
        for (std::size_t i = 0, length = 1; i < piece.size(); i += length) {
            length = utf8SequenceLength(piece.substr(i));
            const std::string_view character =
                length == 0 ? replacementCharacter : piece.substr(i, length);
            length = std::max<std::size_t>(length, 1);
            if (isSpace(character)) {
                space();
                continue;
            }
            flushSeparator();
            if (place && (place->exact || !placed))
                placeNext(place->at + (place->exact ? i : 0));
            placed = true;
            text_ += character;
        }
    }

    // Drops an attribute block that ends the text, " {#id .class key=value}" or " {-}" as
    // pandoc and kramdown write it after a heading's title.
    void cutAttributes() {
        const std::size_t open = text_.rfind(" {");
        if (text_.empty() || text_.back() != '}' || open == std::string::npos)
            return;
        const std::string_view inside =
            std::string_view(text_).substr(open + 2, text_.size() - open - 3);
        if (!isAttributeList(inside))
            return;
        text_.resize(open);
        while (!places_.empty() && places_.back().first >= open)
            places_.pop_back();
    }

    bool empty() const { return text_.empty(); }
    const std::string& text() const { return text_; }

    DocumentRun take() {
        return DocumentRun{
            .text = std::move(text_), .language = {}, .sourceBytes = std::move(places_)};
    }

private:
    // White space and controls, C1's too, as every reader takes them.
    static bool isSpace(std::string_view character) {
        return isGapCharacter(codePointAt(character).value);
    }

    void flushSeparator() {
        if (pendingPause_)
            text_ += ", ";
        else if (pendingSpace_)
            text_ += ' ';
        pendingPause_ = pendingSpace_ = false;
    }

    // The next byte of text_ stands at source: a new entry unless the last one says so.
    void placeNext(std::uint64_t source) {
        const std::size_t at = text_.size();
        if (!places_.empty() && places_.back().second + (at - places_.back().first) == source)
            return;
        if (places_.empty() && at != 0)
            places_.emplace_back(0, source); // the first entry stands at 0
        else
            places_.emplace_back(at, source);
    }

    std::string text_;
    std::vector<std::pair<std::size_t, std::uint64_t>> places_;
    bool pendingSpace_ = false;
    bool pendingPause_ = false;
};

} // namespace kestrova::speech::markdown
