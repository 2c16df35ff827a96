#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/html/xhtml_page_tree.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech::xhtml {

// The text of one block as it is gathered: white space collapsed to single spaces (none at
// the block's edges; no-break spaces alone between two words to one no-break space), soft
// hyphens taken out, split into runs where the language changes, each byte's place in the
// page kept as DocumentRun::sourceBytes says. A space between two runs ends the
// earlier one, so that the runs' texts, joined, are the block's text.
class BlockText {
public:
    // Text of the page, its byte i at places' place for i (none known: places empty).
    void append(std::string_view text, const std::string& language, const TextPlaces& places);
    // Text the page does not hold as such: an entity's character, an image's alternative text.
    void appendUnplaced(std::string_view text, const std::string& language);
    // A word boundary, as white space would be.
    void separate();
    // The start of an inline piece the page does not write as text (a formula): a word
    // boundary, unless the text before opens a bracket.
    void beginInline();
    // The end of an inline piece the page does not write as text (a formula): a word boundary,
    // unless what follows closes the sentence or phrase (". , ; : ! ?" or a bracket).
    void separateInline();
    // Between a table row's cells: a comma (unless the cell ends in a mark of its own) and a
    // space, so that the cells are not read as one phrase.
    void separateCell();

    bool empty() const { return runs_.empty(); }
    std::string text() const;
    std::vector<DocumentRun> take();

private:
    void put(char byte, std::optional<std::uint64_t> place, const std::string& language);
    void push(DocumentRun& run, char byte, std::optional<std::uint64_t> place);

    std::vector<DocumentRun> runs_;
    bool pendingSpace_ = false;
    bool pendingNoBreak_ = false; // the pending space is no-break spaces only
    bool pendingCell_ = false;    // a cell has ended; its separator comes before more text
    bool pendingInline_ = false;  // the pending space ends an inline piece
    std::optional<std::uint64_t> pendingSpacePlace_;
};

} // namespace kestrova::speech::xhtml
