#include "speech/text/readers/pdf/pdf_metadata.h"

#include "speech/text/readers/pdf/poppler_handle.h"

namespace kestrova::speech::pdf {
namespace {

// The text of the first element that opens at or after from, up to its end tag's start.
std::string_view elementText(std::string_view xml, std::size_t from) {
    const std::size_t open = xml.find('>', from);
    if (open == std::string_view::npos || xml[open - 1] == '/')
        return {};
    const std::size_t close = xml.find('<', open);
    return close == std::string_view::npos ? std::string_view()
                                           : xml.substr(open + 1, close - open - 1);
}

} // namespace

std::string xmpLanguage(std::string_view xmp) {
    const std::size_t language = xmp.find("<dc:language");
    if (language == std::string_view::npos)
        return {};
    const std::size_t end = xmp.find("</dc:language>", language);
    const std::size_t item = xmp.find("<rdf:li", language);
    const std::string_view text = item != std::string_view::npos && item < end
                                      ? elementText(xmp, item)
                                      : elementText(xmp, language);
    return std::string(text.substr(0, 64));
}

DocumentMetadata pdfMetadata(const poppler::document& document) {
    DocumentMetadata metadata;
    metadata.title = utf8Of(document.get_title());
    metadata.author = utf8Of(document.get_author());
    metadata.language = xmpLanguage(utf8Of(document.metadata()));
    cleanMetadata(metadata);
    return metadata;
}

} // namespace kestrova::speech::pdf
