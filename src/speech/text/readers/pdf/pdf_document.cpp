#include "speech/text/readers/pdf/pdf_document.h"

#include "speech/base/clean_text.h"
#include "speech/base/warning_tally.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/readers/pdf/line_spacing.h"
#include "speech/text/readers/pdf/page_furniture.h"
#include "speech/text/readers/pdf/page_lines.h"
#include "speech/text/readers/pdf/page_notes.h"
#include "speech/text/readers/pdf/paragraph_joiner.h"
#include "speech/text/readers/pdf/pdf_chapters.h"
#include "speech/text/readers/pdf/pdf_failure.h"
#include "speech/text/readers/pdf/pdf_metadata.h"
#include "speech/text/readers/pdf/poppler_handle.h"
#include "speech/text/readers/pdf/poppler_reports.h"

#include <poppler-page.h>

namespace kestrova::speech {
namespace {

using namespace pdf;

class PdfDocument final : public StructuredDocument {
public:
    PdfDocument(std::string bytes, std::string name, const DocumentOptions& options)
        : name_(std::move(name)), options_(options), handle_(std::move(bytes), name_) {
        const PopplerReports reports;
        metadata_ = pdfMetadata(handle_.document());
        outline_ = outlineTitles(handle_.document());
    }

    const DocumentMetadata& metadata() const override { return metadata_; }

    void read(DocumentSink& sink) override {
        const PopplerReports reports;
        std::vector<PdfPage> pages = readPages();
        markFurniture(pages);
        const double body = bodySize(pages);
        std::vector<std::size_t> notes;
        for (PdfPage& page : pages)
            notes.push_back(markFootnotes(page, body));
        ChapterPlacer chapters(outline_, body);
        speakPages(pages, notes, chapters, sink);
        tellUnplaced(chapters);
        if (reports.count() > 0 && options_.warning)
            options_.warning(quotedName(name_) + ": " + std::to_string(reports.count()) +
                             " fault(s) of the file passed over; the first: " + reports.first());
    }

private:
    std::vector<PdfPage> readPages() const;
    PdfPage readPage(int index) const;
    void speakPages(const std::vector<PdfPage>& pages, const std::vector<std::size_t>& notes,
                    ChapterPlacer& chapters, DocumentSink& sink) const;
    void tellUnplaced(const ChapterPlacer& chapters) const;
    void checkCancel() const {
        if (options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed))
            throw ConversionCancelled(pdfFailure(name_, "the reading was cancelled"));
    }

    std::string name_;
    DocumentOptions options_;
    PopplerHandle handle_;
    DocumentMetadata metadata_;
    std::vector<std::string> outline_;
};

PdfPage PdfDocument::readPage(int index) const {
    const std::unique_ptr<poppler::page> page(handle_.document().create_page(index));
    if (!page)
        return {.lines = {}, .label = std::to_string(index + 1), .height = 0, .noteMarks = 0};
    std::vector<poppler::text_box> boxes = page->text_list(poppler::page::text_list_include_font);
    if (boxes.size() > maxBoxesPerPage)
        throw FileError(pdfFailure(name_, "page " + std::to_string(index + 1) + " holds " +
                                              std::to_string(boxes.size()) +
                                              " pieces of text, more than the " +
                                              std::to_string(maxBoxesPerPage) + " a page may"));
    PdfPage read = pageLines(std::move(boxes), options_.readNotes);
    read.label = cleanText(utf8Of(page->label()));
    if (read.label.empty())
        read.label = std::to_string(index + 1);
    read.height = page->page_rect().height();
    return read;
}

std::vector<PdfPage> PdfDocument::readPages() const {
    std::vector<PdfPage> pages;
    bool anyText = false;
    for (int index = 0; index < handle_.document().pages(); ++index) {
        checkCancel();
        pages.push_back(readPage(index));
        anyText = anyText || !pages.back().lines.empty();
    }
    if (!anyText)
        throw FileError(
            pdfFailure(name_, "it has no text to read: a scanned document needs OCR first"));
    return pages;
}

void PdfDocument::speakPages(const std::vector<PdfPage>& pages,
                             const std::vector<std::size_t>& notes, ChapterPlacer& chapters,
                             DocumentSink& sink) const {
    const HyphenBreaks hyphens(pages);
    const LineSpacing spacing(pages);
    ParagraphJoiner joiner(hyphens, spacing, [&](PdfParagraph paragraph) {
        if (std::optional<std::string> title = chapters.chapterAt(paragraph))
            sink.chapter(std::move(*title));
        sink.block(
            {.runs = {{.text = std::move(paragraph.text), .language = {}, .sourceBytes = {}}},
             .source = {},
             .page = std::move(paragraph.page)});
    });
    ParagraphJoiner noteJoiner(hyphens, spacing,
                               [&](PdfParagraph note) { joiner.hold(std::move(note)); });
    for (std::size_t p = 0; p < pages.size(); ++p) {
        checkCancel();
        const PdfPage& page = pages[p];
        const PageEdges edges(page);
        for (const PdfLine& line : page.lines)
            if (line.role == LineRole::Body)
                joiner.add(line, p, edges, page.label);
            else if (line.role == LineRole::Note && options_.readNotes)
                noteJoiner.add(line, p, edges, page.label, beginsNote(line));
        noteJoiner.finish();
        if (!options_.readNotes && (notes[p] > 0 || page.noteMarks > 0))
            sink.leftOut(LeftOut::Note);
    }
    joiner.finish();
}

void PdfDocument::tellUnplaced(const ChapterPlacer& chapters) const {
    WarningTally tally(options_.warning);
    for (const std::string& title : chapters.unplaced())
        tally.tell(quotedName(name_) + ": the outline's chapter " +
                   quotedValue(title, longestDocumentName) +
                   " is found nowhere in the text: it begins no chapter");
    tally.tellUntold(quotedName(name_) + ": ", "outline chapters are found nowhere in the text");
}

} // namespace

std::unique_ptr<StructuredDocument> readPdf(std::string bytes, const std::string& name,
                                            const DocumentOptions& options) {
    return std::make_unique<PdfDocument>(std::move(bytes), name, options);
}

} // namespace kestrova::speech
