#include "speech/conversion_plan.h"

#include "speech/conversion/reading/planned_input.h"
#include "speech/conversion/reading/script_voice.h"
#include "speech/conversion/reading/structured_reading.h"
#include "speech/conversion/request_rules.h"
#include "speech/file_failures.h"
#include "speech/request_check.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <utility>

namespace kestrova::speech {

ConversionPlan::Input::Input(const std::filesystem::path& path) : path(path) {
    // Only a regular file is opened here: a FIFO gives its bytes once, and its writer would
    // take this opening for its reader.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return;
    try {
        FileIdentity opened;
        file = openRegularTextFile(path, opened);
        fileIdentity = opened;
    } catch (const FileError&) {
        return; // its reader opens it by its path and says why it cannot
    }
    head.resize(inputSniffBytes);
    head.resize(readAllAt(file.get(), head.data(), head.size(), 0).done);
}

TextFileReader& ConversionPlan::Input::text(const ConversionRequest& request,
                                            const std::atomic<bool>* cancel) {
    if (!textReader)
        textReader.emplace(path, std::move(file), request.input.encoding, cancel);
    return *textReader;
}

void ConversionPlan::Input::openDocument(const ConversionRequest& request,
                                         const std::atomic<bool>* cancel) {
    warning = request.callbacks.warning;
    std::function<void(const std::string&)> told;
    if (warning)
        told = [this](const std::string& said) {
            tell(said);
        };
    document = speech::openDocument(request, std::move(told), cancel, file.get());
}

void ConversionPlan::Input::tell(const std::string& said) {
    if (holding)
        held.push_back(said);
    else if (warning)
        warning(said);
}

void ConversionPlan::Input::tellHeld() {
    for (const std::string& said : std::exchange(held, {}))
        if (warning)
            warning(said);
}

FileIdentity ConversionPlan::Input::identity() const {
    return textReader ? textReader->identity() : fileIdentity.value_or(FileIdentity{});
}

ConversionPlan::ConversionPlan(ConversionRequest request, ChapterPlan chapters)
    : request_(std::move(request)), chapters_(std::move(chapters)) {}

ConversionPlan::ConversionPlan(ConversionRequest request, ChapterPlan chapters,
                               std::unique_ptr<Input> input)
    : request_(std::move(request)), chapters_(std::move(chapters)), input_(std::move(input)) {}

ConversionPlan::ConversionPlan(ConversionPlan&&) noexcept = default;
ConversionPlan& ConversionPlan::operator=(ConversionPlan&&) noexcept = default;
ConversionPlan::~ConversionPlan() = default;

void ConversionPlan::closeInput() {
    input_.reset();
}

namespace {

ConversionPlan plannedFrom(ConversionRequest request, const PlanChoices& choices,
                           const std::atomic<bool>* cancel) {
    auto input = std::make_unique<ConversionPlan::Input>(request.input.path);
    input->warning = request.callbacks.warning;
    if (choices.kindByContent) {
        request.input.kind = inputKindOf(input->head, request.input.path, input->file.get());
        request.speech.controls.ssml = request.input.kind == InputKind::Ssml;
    }
    if (isStructured(request.input.kind)) {
        input->openDocument(request, cancel);
        if (choices.adoptMetadata)
            adoptDocumentMetadata(request, input->document->metadata(), choices.voiceByLanguage);
    }
    if (choices.opened)
        choices.opened(request);
    checkRequest(request, choices.kindByContent ? InputKindSettled::FoundByContent
                                                : InputKindSettled::Named);
    // A selection of chapters is checked against the text before anything is rendered; a
    // document is surveyed whatever is asked, for the length of its speech.
    const bool surveyed = choices.surveyChapters || request.chapters.split ||
                          !request.chapters.selection.empty() ||
                          (choices.surveyDocument && isStructured(request.input.kind));
    // A document read through settles its voice as it reads; the others are sampled here.
    const std::optional<ScriptDecides> decides =
        scriptDecides(request, *input, choices.adoptMetadata ? choices.voiceByLanguage : nullptr);
    if (decides && input->document && surveyed)
        input->scriptDecides = decides;
    else if (decides)
        adoptScriptVoice(
            request, *input,
            scriptVoice(request, *input, decides->voices, sampledScript(request, *input)));
    ChapterPlan chapters = surveyed ? planChapters(request, *input, cancel) : ChapterPlan{};
    if (input->scriptVoice)
        adoptScriptVoice(request, *input, *input->scriptVoice);
    return ConversionPlan(std::move(request), std::move(chapters), std::move(input));
}

} // namespace

ConversionPlan planConversion(ConversionRequest request, const PlanChoices& choices,
                              const std::atomic<bool>* cancel) {
    // Named as a conversion cancelled while rendering is, by the request as asked.
    const ConversionCancelled cancelled = cancelledConversion(request);
    try {
        return plannedFrom(std::move(request), choices, cancel);
    } catch (const ConversionCancelled&) {
        throw cancelled;
    }
}

} // namespace kestrova::speech
