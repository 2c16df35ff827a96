#include "speech/text/readers/odt/odt_styles.h"

#include "speech/text/readers/odt/odt_names.h"

#include <set>

namespace kestrova::speech::odt {

namespace {

// A style's text language: "zxx" and "none" say it has none.
std::string languageOf(const xmlNode& style) {
    const xmlNode* properties = book_xml::child(style, styleNamespace, "text-properties");
    if (properties == nullptr)
        return {};
    const std::string language =
        book_xml::attribute(*properties, "language", foNamespace).value_or("");
    const std::string country =
        book_xml::attribute(*properties, "country", foNamespace).value_or("");
    if (language.empty() || language == "zxx" || language == "none")
        return {};
    return country.empty() || country == "none" ? language : language + "-" + country;
}

} // namespace

void OdtStyles::add(const xmlNode& root) {
    for (const xmlNode* group = root.children; group != nullptr; group = group->next) {
        if (!book_xml::isElement(*group, officeNamespace, "styles") &&
            !book_xml::isElement(*group, officeNamespace, "automatic-styles"))
            continue;
        for (const xmlNode* style = group->children; style != nullptr; style = style->next)
            addStyle(*style);
    }
}

void OdtStyles::addStyle(const xmlNode& style) {
    const std::string family = book_xml::attribute(style, "family", styleNamespace).value_or("");
    if (book_xml::isElement(style, styleNamespace, "default-style") && family == "paragraph")
        defaultLanguage_ = languageOf(style);
    if (!book_xml::isElement(style, styleNamespace, "style"))
        return;
    styles_[{family, book_xml::attribute(style, "name", styleNamespace).value_or("")}] = {
        .parent = book_xml::attribute(style, "parent-style-name", styleNamespace).value_or(""),
        .language = languageOf(style)};
}

std::string OdtStyles::language(const std::string& family, const std::string& name) const {
    std::set<const Style*> seen; // a chain of styles may loop
    for (auto found = styles_.find({family, name}); found != styles_.end();
         found = styles_.find({family, found->second.parent})) {
        if (!seen.insert(&found->second).second)
            break;
        if (!found->second.language.empty())
            return found->second.language;
    }
    return {};
}

} // namespace kestrova::speech::odt
