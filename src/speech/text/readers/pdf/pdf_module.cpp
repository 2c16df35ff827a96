// The PDF module: the PDF reader with poppler's libraries, behind the one entry the library
// looks up when it opens a PDF document.
#include "speech/text/readers/pdf/pdf_document.h"
#include "speech/text/readers/pdf/pdf_module_entry.h"

extern "C" __attribute__((visibility("default"))) kestrova::speech::StructuredDocument*
kestrova_read_pdf(kestrova::speech::PdfReaderArguments& arguments) {
    return kestrova::speech::readPdf(std::move(arguments.bytes), arguments.name, arguments.options)
        .release();
}
