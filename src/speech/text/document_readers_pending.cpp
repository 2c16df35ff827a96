// Stand-ins until the readers arrive.
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/text/document.h"

namespace kestrova::speech {

std::unique_ptr<StructuredDocument> openEpub(const std::filesystem::path& file,
                                             const DocumentOptions&) {
    throw FileError(inputFailure("read", file, "EPUB books cannot be read yet"));
}
std::unique_ptr<StructuredDocument> openHtml(const std::filesystem::path& file,
                                             const DocumentOptions&) {
    throw FileError(inputFailure("read", file, "HTML documents cannot be read yet"));
}
std::unique_ptr<StructuredDocument> openMarkdown(const std::filesystem::path& file,
                                                 const DocumentOptions&) {
    throw FileError(inputFailure("read", file, "Markdown documents cannot be read yet"));
}

} // namespace kestrova::speech
