#pragma once

#include "speech/base/warning_tally.h"

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace kestrova::speech {

// What the pages of one reading say of their faults, each kind told a few times and then
// counted: a book's table of contents may point at thousands of ids its pages do not hold.
// Each line names the page, quoted; warning puts the book's name before it where there is one.
class PageWarnings {
public:
    explicit PageWarnings(const std::function<void(const std::string&)>& warning)
        : warning_(warning), missingIds_(warning), unknownEntities_(warning), readAsHtml_(warning) {
    }

    void missingId(const std::string& page, const std::string& id, const std::string& title);
    void unknownEntity(const std::string& page, std::string_view name);
    // A page that is not well-formed XHTML, read by the HTML parser: its first fault.
    void readAsHtml(const std::string& page, int line, const std::string& reason);
    // A formula without alttext read in part by its symbols: its elements that have no words
    // (unsaid), or all of it, in a language with no words for formulas (tokensOnly).
    void simplifiedFormula(const std::set<std::string>& unsaid, bool tokensOnly);
    // One line for each kind of which some were not told, "<prefix>N more ...", once the
    // reading is over.
    void tellUntold(const std::string& prefix);

private:
    void tellSimplifiedFormulas(const std::string& prefix);

    std::function<void(const std::string&)> warning_;
    WarningTally missingIds_;
    WarningTally unknownEntities_;
    WarningTally readAsHtml_;
    std::size_t simplifiedFormulas_ = 0;
    std::set<std::string> unsaidElements_;
    bool tokensOnly_ = false;
};

} // namespace kestrova::speech
