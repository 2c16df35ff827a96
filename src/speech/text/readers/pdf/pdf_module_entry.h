#pragma once

#include "speech/text/readers/document.h"

#include <string>

namespace kestrova::speech {

// What the PDF module's reader is opened with: the file's bytes, already read, and the name
// that stands for it in messages.
struct PdfReaderArguments {
    std::string bytes;
    std::string name;
    DocumentOptions options;
};

} // namespace kestrova::speech

// The PDF module's one entry: readPdf() of the arguments (bytes moved out), a document the
// caller owns (deletes through its virtual destructor), or FileError as readPdf() throws it.
extern "C" kestrova::speech::StructuredDocument*
kestrova_read_pdf(kestrova::speech::PdfReaderArguments& arguments);
using ReadPdfEntry = decltype(&kestrova_read_pdf);
