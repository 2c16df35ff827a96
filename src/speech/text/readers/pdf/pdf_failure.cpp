#include "speech/text/readers/pdf/pdf_failure.h"

#include "speech/quoted_name.h"

namespace kestrova::speech {

std::string pdfFailure(const std::filesystem::path& document, const std::string& reason) {
    return "cannot read the PDF document " + quotedName(document.native()) + ": " + reason;
}

} // namespace kestrova::speech
