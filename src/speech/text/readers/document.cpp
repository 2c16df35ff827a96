#include "speech/text/readers/document.h"

#include "speech/base/clean_text.h"

#include <fcntl.h>

namespace kestrova::speech {

void cleanMetadata(DocumentMetadata& metadata) {
    for (std::string* text :
         {&metadata.title, &metadata.author, &metadata.language, &metadata.date})
        *text = cleanText(*text);
}

UniqueFd duplicateOpenFile(const DocumentOptions& options) {
    return UniqueFd(options.openFile < 0 ? -1 : ::fcntl(options.openFile, F_DUPFD_CLOEXEC, 0));
}

} // namespace kestrova::speech
