#pragma once

#include "speech/text/readers/document.h"

#include <poppler-document.h>
#include <string>
#include <string_view>

namespace kestrova::speech::pdf {

// The title and author of the document information dictionary, the language of the XMP
// metadata's dc:language (its first entry), cleaned as cleanMetadata leaves them. The dates
// are not taken: a producer writes the moment of the export there, not the work's date.
DocumentMetadata pdfMetadata(const poppler::document& document);

// The first language XMP metadata gives; empty: none.
std::string xmpLanguage(std::string_view xmp);

} // namespace kestrova::speech::pdf
