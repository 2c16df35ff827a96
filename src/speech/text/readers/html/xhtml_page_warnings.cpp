#include "speech/text/readers/html/xhtml_page_warnings.h"

#include "speech/quoted_name.h"

namespace kestrova::speech {

void PageWarnings::missingId(const std::string& page, const std::string& id,
                             const std::string& title) {
    if (missingIds_.listened())
        missingIds_.tell(quotedValue(page, longestDocumentName) + ": no element has the id " +
                         quotedValue(id) + " where the chapter " + quotedValue(title) + " begins");
}

void PageWarnings::unknownEntity(const std::string& page, std::string_view name) {
    if (!unknownEntities_.listened())
        return;
    // An XML name is printable; should the parser give another, it is shown quoted.
    const std::string entity = "&" + std::string(name) + ";";
    unknownEntities_.tell(quotedValue(page, longestDocumentName) + ": the entity " +
                          (isPlainName(entity) ? cutInTheMiddle(entity) : quotedValue(entity)) +
                          " is not one of HTML's; it is left out");
}

void PageWarnings::readAsHtml(const std::string& page, int line, const std::string& reason) {
    if (readAsHtml_.listened())
        readAsHtml_.tell(quotedValue(page, longestDocumentName) +
                         (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + reason +
                         "; read as HTML");
}

void PageWarnings::tellUntold(const std::string& prefix) {
    missingIds_.tellUntold(prefix, "chapters begin where no element has their id");
    unknownEntities_.tellUntold(prefix, "entities that are not HTML's are left out");
    readAsHtml_.tellUntold(prefix, "pages that are not well-formed XHTML are read as HTML");
    tellSimplifiedFormulas(prefix);
}

void PageWarnings::simplifiedFormula(const std::set<std::string>& unsaid, bool tokensOnly) {
    ++simplifiedFormulas_;
    unsaidElements_.insert(unsaid.begin(), unsaid.end());
    tokensOnly_ = tokensOnly_ || tokensOnly;
}

void PageWarnings::tellSimplifiedFormulas(const std::string& prefix) {
    if (simplifiedFormulas_ == 0 || !warning_)
        return;
    std::string why;
    if (tokensOnly_)
        why = "words for formulas are known in English alone";
    if (!unsaidElements_.empty()) {
        std::string names;
        for (const std::string& name : unsaidElements_)
            names += (names.empty() ? "" : ", ") + quotedValue(name);
        why += (why.empty() ? "" : "; ") + ("elements without words: " + names);
    }
    warning_(prefix + std::to_string(simplifiedFormulas_) +
             (simplifiedFormulas_ == 1 ? " formula without alttext is read by its symbols ("
                                       : " formulas without alttext are read by their symbols (") +
             why + ")");
    simplifiedFormulas_ = 0;
    unsaidElements_.clear();
    tokensOnly_ = false;
}

} // namespace kestrova::speech
