#include "speech/text/readers/document.h"

#include "speech/base/clean_text.h"

namespace kestrova::speech {

void cleanMetadata(DocumentMetadata& metadata) {
    for (std::string* text :
         {&metadata.title, &metadata.author, &metadata.language, &metadata.date})
        *text = cleanText(*text);
}

} // namespace kestrova::speech
