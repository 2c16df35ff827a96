#include "conversion_requests.h"

#include "app/format_rule.h"
#include "side_files.h"
#include "speech/conversion_paths.h"
#include "speech/cover_art.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/request_check.h"
#include "speech/speech_error.h"
#include "speech/stop_signal_owner.h"
#include "standard_input.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;
namespace fs = std::filesystem;

// Where each input's sound goes: -o for the one input; with -d, in that folder under the
// input's name with the type's ending ("stdin" for standard input); else beside the input.
// Two inputs writing one file, or one input's sound landing on another input, are found with
// every other path of the batch (checkPaths).
std::vector<fs::path> outputPaths(const ConvertOptions& options) {
    if (!options.output.empty())
        return {fs::path(options.output)};
    const char* const ending = containerRow(options.type.value_or(Container::Wave)).ending;
    std::vector<fs::path> outputs;
    for (const std::string& input : options.inputs) {
        const fs::path source = input == standardInputName ? fs::path("stdin") : fs::path(input);
        outputs.push_back(options.folder.empty() ? fs::path(source).replace_extension(ending)
                                                 : fs::path(options.folder) /
                                                       source.filename().replace_extension(ending));
    }
    return outputs;
}

Container chosenContainerOf(const ConversionRequest& request) {
    return writtenContainer(request.output.container, request.output.path,
                            request.output.toStandardOutput);
}

// The settings every input's conversion shares.
ConversionRequest commonSettings(const ConvertOptions& options, const VoiceRegistry& registry) {
    ConversionRequest common = askedRequest(options);
    // Not one conditional expression: clang 14 destroys a temporary of its arm twice when
    // that arm throws, as commandVoice does for a failing command (AddressSanitizer saw it).
    if (options.voiceCommand.empty()) {
        common.speech.voice = registry.find(options.engine);
    } else {
        const VoiceCommand command{.line = options.voiceCommand,
                                   .rawRate = options.voiceCommandRate.value_or(0),
                                   .timeoutSeconds = options.voiceCommandTimeout.value_or(600)};
        common.speech.voice = commandVoice(command, options.voiceName, StopSignalOwner::stopFlag());
    }
    if (!options.dialogueVoice.empty())
        common.speech.dialogueVoice = registry.find(options.dialogueVoice);
    if (!options.cover.empty()) {
        common.output.tags.cover = readCoverArt(options.cover);
        common.output.coverFile = options.cover;
    }
    common.speech.voices = &registry;
    common.callbacks.warning = [](const std::string& warning) {
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s\n", warning.c_str());
    };
    // Each chapter's file is titled with its heading.
    const bool typeHoldsTags = !options.type || holdsTags(*options.type);
    if (!common.output.tags.empty() || (options.splitChapters && typeHoldsTags))
        common.output.tags.software = "kestrova-wav-cli " KESTROVA_VERSION;
    return common;
}

// A batch's choices for a document's reader apply to the documents among its inputs.
void keepDocumentChoicesOfDocuments(ConversionRequest& request) {
    if (!isStructured(request.input.kind))
        request.input.documentChoices = {};
}

// Every path of one conversion, named by the option that gives it.
ConversionPaths pathsOf(const ConvertOptions& options, const ConversionPlan& plan) {
    const ConversionRequest& request = plan.request();
    ConversionPaths paths;
    paths.addRead("INPUT", request.input.path);
    for (const fs::path& lexicon : request.speech.controls.lexicons)
        paths.addRead("--lexicon", lexicon);
    if (!request.output.coverFile.empty())
        paths.addRead("--cover", request.output.coverFile);
    if (request.output.toStandardOutput)
        paths.addStandardOutput("-o - (standard output)");
    else if (!request.chapters.split)
        paths.addWritten(options.output.empty()
                             ? "the sound file of " + quotedName(request.input.path.native())
                             : std::string("-o"),
                         request.output.path);
    for (const fs::path& file : plan.chapters().files)
        paths.addWritten("--split-chapters", file);
    const std::pair<const char*, const std::string*> sideFiles[] = {
        {"--timings", &options.timings},
        {"--subtitles", &options.subtitles},
        {"--cue-sheet", &options.cueSheet}};
    for (const auto& [option, path] : sideFiles)
        if (!path->empty())
            paths.addWritten(option, *path);
    return paths;
}

// A clash of paths is bad usage.
void checkClash(const ConversionPaths& paths) {
    try {
        paths.check();
    } catch (const PathClash& clash) {
        throw UsageError(clash.what());
    }
}

// Each file is read as --input-type says, else as its content and name show; a document's
// title, author, date and language settle what the options leave open. Read once: the plan
// keeps the input open for the conversion.
PlanChoices planChoices(const ConvertOptions& options, const VoiceRegistry& registry,
                        ConversionRequest& request, bool alone) {
    const std::optional<InputKind> kind =
        options.inputType ? options.inputType
                          : (options.controls.ssml ? std::optional(InputKind::Ssml) : std::nullopt);
    request.input.kind = kind.value_or(InputKind::Text);
    request.speech.controls.ssml = request.input.kind == InputKind::Ssml;
    request.input.documentChoices = options.documentChoices;
    return PlanChoices{
        .kindByContent = !kind,
        .adoptMetadata = true,
        .voiceByLanguage =
            options.engine.empty() && options.voiceCommand.empty() ? &registry : nullptr,
        // A selection of chapters none of the text has, and a cue sheet's tracks, are found
        // before anything is written.
        .surveyChapters = !options.cueSheet.empty(),
        .surveyDocument = alone,
        .opened =
            [alone](ConversionRequest& opened) {
                if (!opened.output.tags.empty() && !opened.output.tags.software &&
                    holdsTags(chosenContainerOf(opened)))
                    opened.output.tags.software = "kestrova-wav-cli " KESTROVA_VERSION;
                // One file's plan refuses them for a text (checkRequest).
                if (!alone)
                    keepDocumentChoicesOfDocuments(opened);
            },
    };
}

// One file of several: its plan, closed, is for the checks; the file is read again in its
// own process. A file that cannot be read fails on its own when converted, and the others go
// on. Its reader's words are said once, there.
ConversionPlan batchPlan(ConversionRequest request, const PlanChoices& choices,
                         const std::atomic<bool>* cancel) {
    const std::function<void(const std::string&)> warning =
        std::exchange(request.callbacks.warning, nullptr);
    ConversionPlan plan = [&] {
        try {
            return planConversion(request, choices, cancel);
        } catch (const FileError&) {
            if (choices.kindByContent)
                request.input.kind = inputKindOfFile(request.input.path);
            request.speech.controls.ssml = request.input.kind == InputKind::Ssml;
            keepDocumentChoicesOfDocuments(request);
            return ConversionPlan(std::move(request));
        }
    }();
    plan.closeInput();
    plan.request().callbacks.warning = warning;
    return plan;
}

} // namespace

ConversionRequest askedRequest(const ConvertOptions& options) {
    ConversionRequest asked;
    asked.input.kind =
        options.inputType.value_or(options.controls.ssml ? InputKind::Ssml : InputKind::Text);
    asked.input.documentChoices = options.documentChoices;
    asked.output.toStandardOutput = options.toStandardOutput();
    asked.output.path = options.output;
    // A read-along book's container is that of its audio files.
    asked.output.container =
        options.writesReadAlongBook() ? options.readAlongAudioContainer() : options.type;
    asked.output.bitrateKbps = options.bitrateKbps;
    asked.output.format = AudioFormat::fromFormatCode(
        options.formatCode.value_or(app::formatCodeForEngine(options.engine)));
    asked.output.replaceExisting = !options.noClobber;
    asked.output.resume = !options.noResume && !options.toStandardOutput();
    asked.output.tags = options.tags;
    asked.output.coverFile = options.cover;
    asked.speech.jobs = options.jobs;
    asked.speech.controls = options.controls;
    asked.speech.controls.lexicons.assign(options.lexicons.begin(), options.lexicons.end());
    if (options.findsChapters())
        asked.chapters.pattern =
            options.chapterPattern.value_or(std::string(defaultChapterPattern));
    asked.chapters.split = options.splitChapters;
    if (options.chaptersOnly)
        asked.chapters.selection = ChapterSelection::parse(*options.chaptersOnly);
    asked.chapters.pauseMs = options.chapterPauseMs;
    asked.chapters.recordTimings = !options.timings.empty() || !options.subtitles.empty();
    asked.mastering.loudness = options.loudness;
    asked.mastering.leadInMs = options.leadInMs.value_or(0);
    asked.mastering.tailMs = options.tailMs.value_or(0);
    asked.mastering.roomTonePerFile = options.acx;
    return asked;
}

std::vector<ConversionRequest> conversionRequests(const ConvertOptions& options,
                                                  const VoiceRegistry& registry) {
    const std::vector<fs::path> outputs = outputPaths(options);
    const ConversionRequest common = commonSettings(options, registry);
    std::vector<ConversionRequest> requests;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        ConversionRequest& request = requests.emplace_back(common);
        request.input.path = options.inputs[i] == standardInputName ? standardInputAsFile()
                                                                    : fs::path(options.inputs[i]);
        request.output.toStandardOutput = options.toStandardOutput();
        request.output.path =
            request.output.toStandardOutput ? fs::path("standard output") : outputs[i];
    }
    return requests;
}

std::vector<ConversionPlan> conversionPlans(const ConvertOptions& options,
                                            const VoiceRegistry& registry,
                                            std::vector<ConversionRequest> requests,
                                            const std::atomic<bool>* cancel) {
    const bool alone = requests.size() == 1;
    std::vector<ConversionPlan> plans;
    for (ConversionRequest& request : requests) {
        const PlanChoices choices = planChoices(options, registry, request, alone);
        plans.push_back(alone ? planConversion(std::move(request), choices, cancel)
                              : batchPlan(std::move(request), choices, cancel));
    }
    // Choices for a document's reader with no document among the inputs: refused in the words
    // of one file's plan, the first input given the choices.
    if (!alone && options.documentChoices.any() &&
        std::none_of(plans.begin(), plans.end(), [](const ConversionPlan& plan) {
            return isStructured(plan.request().input.kind);
        })) {
        ConversionRequest text = plans.front().request();
        text.input.documentChoices = options.documentChoices;
        checkRequest(text, InputKindSettled::FoundByContent);
    }
    return plans;
}

void checkPaths(const ConvertOptions& options, const std::vector<ConversionPlan>& plans) {
    ConversionPaths batch;
    for (const ConversionPlan& plan : plans) {
        const ConversionPaths paths = pathsOf(options, plan);
        checkClash(paths);
        checkSideFiles(options, plan);
        batch.add(paths);
    }
    if (plans.size() > 1)
        checkClash(batch);
}

void makeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw SpeechError("cannot make the folder " + quotedName(folder) + ": " + error.message());
}

} // namespace kestrova::cli
