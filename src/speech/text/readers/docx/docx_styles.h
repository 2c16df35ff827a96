#pragma once

#include "speech/text/readers/xml/book_xml.h"

#include <map>
#include <string>
#include <string_view>

namespace kestrova::speech::docx {

// What word/styles.xml says that reading needs: which paragraph styles are headings, at what
// outline level, the language each style and the document's defaults set, and which character
// styles hide their text.
class DocxStyles {
public:
    DocxStyles() = default;
    explicit DocxStyles(const book_xml::Document& styles);

    // 1 for a top heading ("heading 1", Heading1, or an outline level of 0), 0: not a heading.
    int headingLevel(const std::string& styleId) const;
    // The language a style sets, through the styles it is based on; empty: none.
    std::string language(const std::string& styleId) const;
    bool hides(const std::string& styleId) const;
    // docDefaults' run language: the document's own where its properties give none.
    const std::string& defaultLanguage() const { return defaultLanguage_; }

private:
    struct Style {
        std::string basedOn;
        int headingLevel = 0;
        std::string language;
        bool hidden = false;
    };
    const Style* find(const std::string& styleId) const;
    // The first of the style and those it is based on that has what has asks for; nullptr: none.
    const Style* inChain(const std::string& styleId, bool (*has)(const Style&)) const;
    void add(const xmlNode& style);

    std::map<std::string, Style> styles_;
    std::string defaultLanguage_;
};

} // namespace kestrova::speech::docx
