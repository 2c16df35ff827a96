#include "speech/text/readers/docx/docx_styles.h"

#include "speech/ascii.h"
#include "speech/text/readers/docx/docx_names.h"

#include <charconv>
#include <set>

namespace kestrova::speech::docx {

namespace {

// A built-in heading by its name ("heading 1", any letter case) or id ("Heading1").
int builtInHeadingLevel(const std::string& name, const std::string& id) {
    for (const auto& [text, prefix] : {std::pair{asciiLower(name), std::string_view("heading ")},
                                       std::pair{id, std::string_view("Heading")}}) {
        if (text.size() == prefix.size() + 1 && text.starts_with(prefix) && text.back() >= '1' &&
            text.back() <= '9')
            return text.back() - '0';
    }
    return 0;
}

} // namespace

DocxStyles::DocxStyles(const book_xml::Document& styles) {
    const xmlNode& root = *xmlDocGetRootElement(styles.get());
    if (const xmlNode* defaults = wordChild(root, "docDefaults"))
        if (const xmlNode* runDefault = wordChild(*defaults, "rPrDefault"))
            if (const xmlNode* properties = wordChild(*runDefault, "rPr"))
                defaultLanguage_ = propertyValue(properties, "lang").value_or("");
    for (const xmlNode* at = root.children; at != nullptr; at = at->next)
        if (isWord(*at, "style"))
            add(*at);
}

void DocxStyles::add(const xmlNode& style) {
    const std::string id = wordAttribute(style, "styleId").value_or("");
    if (id.empty())
        return;
    const xmlNode* paragraph = wordChild(style, "pPr");
    const xmlNode* run = wordChild(style, "rPr");
    const int outline = outlineLevelOf(paragraph);
    const bool isParagraph = wordAttribute(style, "type").value_or("paragraph") == "paragraph";
    styles_[id] = {.basedOn = propertyValue(&style, "basedOn").value_or(""),
                   .headingLevel =
                       !isParagraph ? 0
                       : outline > 0
                           ? outline
                           : builtInHeadingLevel(propertyValue(&style, "name").value_or(""), id),
                   .language = propertyValue(run, "lang").value_or(""),
                   .hidden = isOn(run, "vanish")};
}

const DocxStyles::Style* DocxStyles::find(const std::string& styleId) const {
    const auto found = styles_.find(styleId);
    return found != styles_.end() ? &found->second : nullptr;
}

const DocxStyles::Style* DocxStyles::inChain(const std::string& styleId,
                                             bool (*has)(const Style&)) const {
    std::set<const Style*> seen; // a chain of styles may loop
    for (const Style* style = find(styleId); style != nullptr && seen.insert(style).second;
         style = find(style->basedOn))
        if (has(*style))
            return style;
    return nullptr;
}

int DocxStyles::headingLevel(const std::string& styleId) const {
    const Style* style = inChain(styleId, [](const Style& at) { return at.headingLevel > 0; });
    return style != nullptr ? style->headingLevel : 0;
}

std::string DocxStyles::language(const std::string& styleId) const {
    const Style* style = inChain(styleId, [](const Style& at) { return !at.language.empty(); });
    return style != nullptr ? style->language : std::string();
}

bool DocxStyles::hides(const std::string& styleId) const {
    const Style* style = find(styleId);
    return style != nullptr && style->hidden;
}

} // namespace kestrova::speech::docx
