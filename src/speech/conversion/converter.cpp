#include "speech/converter.h"

#include "speech/conversion/chapters/chapter_file_path.h"
#include "speech/conversion/conversion.h"
#include "speech/conversion/reading/plain_text_reading.h"
#include "speech/conversion/reading/planned_input.h"
#include "speech/conversion/reading/script_voice.h"
#include "speech/conversion/reading/structured_reading.h"
#include "speech/conversion/request_rules.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/request_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/pdf/pdf_failure.h"
#include "speech/text/readers/plain/heading_finder.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "speech/text/readers/zip/zip_archive.h"
#include "speech/text/script/text_chunker.h"

#include <algorithm>
#include <thread>

namespace kestrova::speech {

unsigned defaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned maximumJobs() {
    return 4 * defaultJobs();
}

namespace {

// The chapters of a plain text, found as the conversion finds them; the reader is then
// rewound for the conversion.
ChapterPlan planTextChapters(const ConversionRequest& request, TextFileReader& reader) {
    ChapterPlan plan;
    SpeechTimings timings;
    SentenceLedger ledger(request, reader, timings);
    TextChunker chunker = chunkerFor(true, request.speech.voice);
    const auto settle = [&] {
        while (auto chunk = chunker.next())
            ledger.add(std::move(*chunk));
        std::size_t sentence = 0;
        while (ledger.next(sentence)) {
        }
        timings.sentences.clear(); // only the chapters are wanted
    };
    chunkText(reader, request, chunker, &ledger, settle);
    reader.rewind();
    plan.chapters = std::move(timings.chapters);
    plan.headings = ledger.headings();
    return plan;
}

// Why a document gave no text: what its reader passed over, and the option that reads it.
std::string nothingReadReason(const ConversionRequest& request, const std::set<LeftOut>& leftOut) {
    const std::string reason = "no text could be read from it";
    if (leftOut.empty())
        return reason +
               (request.input.kind == InputKind::Epub || request.input.kind == InputKind::Pdf
                    ? " (its pages are empty)"
                    : " (it is empty)");
    if (leftOut == std::set{LeftOut::Image})
        return reason + " (it holds only images" +
               (request.input.documentChoices.readAlt
                    ? ", without alternative text)"
                    : "; --read-alt reads their alternative text)");
    constexpr std::pair<LeftOut, std::string_view> names[] = {{LeftOut::Image, "images"},
                                                              {LeftOut::Note, "notes"},
                                                              {LeftOut::Navigation, "navigation"},
                                                              {LeftOut::Code, "code"}};
    std::string what;
    for (const auto& [kind, name] : names)
        if (leftOut.contains(kind))
            what += (what.empty() ? "" : ", ") + std::string(name);
    std::string hints;
    if (leftOut.contains(LeftOut::Note))
        hints += "; --read-notes reads notes";
    if (leftOut.contains(LeftOut::Code))
        hints += "; --read-code reads code";
    return reason + " (all it holds is left out: " + what + hints + ")";
}

// A document with nothing to say is refused before any output is made: a silent file and
// status 0 would pass for a book read.
void refuseNothingRead(const ConversionRequest& request, const StructuredReading& reading) {
    if (reading.readAny())
        return;
    const std::string reason = nothingReadReason(request, reading.leftOut());
    switch (request.input.kind) {
    case InputKind::Epub:
        throw FileError(bookFailure(request.input.path, reason));
    case InputKind::Pdf:
        throw FileError(pdfFailure(request.input.path, reason));
    default:
        throw FileError(inputFailure("read", request.input.path, reason));
    }
}

// A structured document read through once as the conversion reads it, with no engine: its
// sentences are kept for the conversion, and what its reader says is held for it to tell.
ChapterPlan planDocumentChapters(const ConversionRequest& request, ConversionPlan::Input& input) {
    ChapterPlan plan;
    PlannedSentences& sentences = input.sentences.emplace();
    std::function<void(const std::string&)> told;
    if (input.warning)
        told = [&input](const std::string& said) {
            input.tell(said);
        };
    StructuredReading reading(request, request.speech.voice, input.document->metadata().language,
                              request.speech.voices, std::move(told),
                              [&sentences](DocumentSentence sentence) { sentences.add(sentence); });
    if (input.scriptDecides)
        reading.settleVoiceByScript(
            [&](const ScriptTally& tally) {
                input.scriptVoice = scriptVoice(request, input, input.scriptDecides->voices, tally);
                return input.scriptVoice->voice ? &*input.scriptVoice->voice : nullptr;
            },
            scriptSampleLetters);
    input.holding = true;
    try {
        input.document->read(reading);
        reading.finish();
        refuseNothingRead(request, reading);
    } catch (...) {
        input.holding = false;
        input.sentences.reset();
        throw;
    }
    input.holding = false;
    plan.chapters = sentences.chapters();
    plan.headings = reading.chapters();
    plan.characters = reading.characters();
    return plan;
}

} // namespace

ChapterPlan planChapters(const ConversionRequest& request, ConversionPlan::Input& input,
                         const std::atomic<bool>* cancel) {
    const bool structured = isStructured(request.input.kind);
    if (!structured &&
        (readsMarkup(request) || !(request.chapters.pattern || request.chapters.split)))
        return {};
    ChapterPlan plan = structured ? planDocumentChapters(request, input)
                                  : planTextChapters(request, input.text(request, cancel));
    if (plan.chapters.empty() && !request.chapters.selection.empty())
        // The text file's own fault, named as a failure to read it is.
        throw FileError(
            std::string("the ") + inputKindRow(request.input.kind).fileKind + " " +
            quotedName(request.input.path.native()) + " has " + std::to_string(plan.headings) +
            (structured ? (plan.headings == 1 ? " chapter" : " chapters")
                        : (plan.headings == 1 ? " chapter heading" : " chapter headings")) +
            ": the chapter range \"" + request.chapters.selection.text() +
            "\" names none of its chapters");
    if (!request.chapters.split)
        return plan;
    // A text without a sound still gets its one file.
    if (plan.chapters.empty())
        plan.chapters.push_back({});
    // Numbered as in the whole book, whichever chapters are selected.
    const unsigned highest = plan.headings;
    for (const ChapterTiming& chapter : plan.chapters)
        plan.files.push_back(
            chapterFilePath(request.output.path, chapter.number, chapter.title, highest));
    return plan;
}

void checkChapterPattern(std::string_view pattern) {
    HeadingFinder finder(pattern);
}

namespace {

// The failures of a conversion as it reports them.
template <typename Convert>
ConversionResult reported(const ConversionRequest& request, Convert&& convert) {
    try {
        return convert();
    } catch (const ConversionCancelled&) {
        throw cancelledConversion(request);
    } catch (const FileError&) {
        throw;
    } catch (const RequestRefused&) {
        throw;
    } catch (const SpeechError& failure) {
        // The engines' failures: say which text they failed on.
        throw SpeechError("cannot render the text file " + quotedName(request.input.path.native()) +
                          ": " + failure.what());
    }
}

} // namespace

ConversionResult convertTextFile(ConversionPlan& plan, const ProgressCallback& progress,
                                 const std::atomic<bool>* cancel) {
    // Rendered at the rate the container is written at (Opus has no 22.05 kHz).
    ConversionRequest request = plan.request();
    checkRequest(request);
    request.output.format = writtenFormat(chosenContainer(request), request.output.format);
    return reported(request, [&] {
        if (!plan.input())
            plan = planConversion(plan.request(), {}, cancel);
        return Conversion(request, plan, progress, cancel).run();
    });
}

ConversionResult convertTextFile(const ConversionRequest& request, const ProgressCallback& progress,
                                 const std::atomic<bool>* cancel) {
    // Planned where it is converted, as a plan whose input is not open.
    ConversionPlan plan(request);
    return convertTextFile(plan, progress, cancel);
}

} // namespace kestrova::speech
