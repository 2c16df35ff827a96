// Opening a PDF document: its file read here, its reader in the PDF module (poppler and the
// libraries it brings: fontconfig, freetype, NSS, lcms), loaded only when a PDF is opened so
// that no other run of either program loads them.
#include "speech/base/program_module.h"
#include "speech/base/whole_file.h"
#include "speech/speech_error.h"
#include "speech/text/readers/pdf/pdf_document.h"
#include "speech/text/readers/pdf/pdf_failure.h"
#include "speech/text/readers/pdf/pdf_module_entry.h"
#include "speech/text/readers/plain/text_file_reader.h"

namespace kestrova::speech {
namespace {

// The module's document, with the module held for as long as its code is.
class ModuleDocument final : public StructuredDocument {
public:
    ModuleDocument(ProgramModule module, std::unique_ptr<StructuredDocument> document)
        : module_(std::move(module)), document_(std::move(document)) {}

    const DocumentMetadata& metadata() const override { return document_->metadata(); }
    void read(DocumentSink& sink) override { document_->read(sink); }

private:
    // Declared first: the document's code lives in the module.
    ProgramModule module_;
    std::unique_ptr<StructuredDocument> document_;
};

ReadPdfEntry readerEntry(const ProgramModule& module, const std::filesystem::path& file) {
    if (!module.loaded())
        throw FileError(pdfFailure(file, "its reader " + module.fileName() +
                                             " cannot be loaded: " + module.failure()));
    const auto entry = reinterpret_cast<ReadPdfEntry>(module.symbol("kestrova_read_pdf"));
    if (entry == nullptr)
        throw FileError(
            pdfFailure(file, "its reader " + module.fileName() + " is not the program's"));
    return entry;
}

} // namespace

std::unique_ptr<StructuredDocument> openPdf(const std::filesystem::path& file,
                                            const DocumentOptions& options) {
    ProgramModule module("kestrova-pdf.so");
    const ReadPdfEntry entry = readerEntry(module, file);
    PdfReaderArguments arguments{
        .bytes = readWholeTextFile(
            file,
            {.maxBytes = pdfMaxBytes,
             .cancel = options.cancel,
             .failure = [&file](const std::string& reason) { return pdfFailure(file, reason); },
             .tooLarge = "a PDF document may be at most " + sizeInWords(pdfMaxBytes)},
            duplicateOpenFile(options)),
        .name = file.native(),
        .options = options};
    std::unique_ptr<StructuredDocument> document(entry(arguments));
    return std::make_unique<ModuleDocument>(std::move(module), std::move(document));
}

} // namespace kestrova::speech
