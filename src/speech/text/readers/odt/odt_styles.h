#pragma once

#include "speech/text/readers/xml/book_xml.h"

#include <map>
#include <string>
#include <utility>

namespace kestrova::speech::odt {

// The languages an OpenDocument text's styles set (fo:language and fo:country in their text
// properties), through the styles they inherit from: those of styles.xml and the automatic
// styles of content.xml, by family ("paragraph", "text") and name.
class OdtStyles {
public:
    // The style elements under root's office:styles and office:automatic-styles.
    void add(const xmlNode& root);
    // "fr-FR", "fr"; empty: the style sets none.
    std::string language(const std::string& family, const std::string& name) const;
    // The default paragraph style's: the document's own where its metadata gives none.
    const std::string& defaultLanguage() const { return defaultLanguage_; }

private:
    struct Style {
        std::string parent;
        std::string language;
    };
    void addStyle(const xmlNode& style);

    std::map<std::pair<std::string, std::string>, Style> styles_;
    std::string defaultLanguage_;
};

} // namespace kestrova::speech::odt
