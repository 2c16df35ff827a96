#include "conversion_requests.h"

#include "app/format_rule.h"
#include "side_files.h"
#include "speech/conversion_paths.h"
#include "speech/cover_art.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/stop_signal_owner.h"
#include "standard_input.h"

#include <algorithm>
#include <filesystem>

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
    return writtenContainer(request.container, request.output, request.toStandardOutput);
}

// The settings every input's conversion shares.
ConversionRequest commonSettings(const ConvertOptions& options, const VoiceRegistry& registry) {
    ConversionRequest common;
    common.container = options.type;
    common.bitrateKbps = options.bitrateKbps;
    common.voice = registry.find(options.engine);
    common.format = AudioFormat::fromFormatCode(
        options.formatCode.value_or(app::formatCodeForEngine(options.engine)));
    common.replaceExisting = !options.noClobber;
    common.jobs = options.jobs;
    common.tags = options.tags;
    if (!options.cover.empty()) {
        common.tags.cover = readCoverArt(options.cover);
        common.coverFile = options.cover;
    }
    common.controls = options.controls;
    common.controls.lexicons.assign(options.lexicons.begin(), options.lexicons.end());
    common.voices = &registry;
    common.warning = [](const std::string& warning) {
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s\n", warning.c_str());
    };
    if (options.findsChapters())
        common.chapterPattern = options.chapterPattern.value_or(std::string(defaultChapterPattern));
    common.splitChapters = options.splitChapters;
    if (options.chaptersOnly)
        common.chapterSelection = ChapterSelection::parse(*options.chaptersOnly);
    common.chapterPauseMs = options.chapterPauseMs;
    common.loudness = options.loudness;
    common.leadInMs = options.leadInMs.value_or(0);
    common.tailMs = options.tailMs.value_or(0);
    common.roomTonePerFile = options.acx;
    common.recordTimings = !options.timings.empty() || !options.subtitles.empty();
    // Each chapter's file is titled with its heading.
    const bool typeHoldsTags = !options.type || holdsTags(*options.type);
    if (!common.tags.empty() || (options.splitChapters && typeHoldsTags))
        common.tags.software = "kestrova-wav-cli " KESTROVA_VERSION;
    return common;
}

// Every path of one conversion, named by the option that gives it.
ConversionPaths pathsOf(const ConvertOptions& options, const ConversionRequest& request,
                        const ChapterPlan& plan) {
    ConversionPaths paths;
    paths.addRead("INPUT", request.input);
    for (const fs::path& lexicon : request.controls.lexicons)
        paths.addRead("--lexicon", lexicon);
    if (!request.coverFile.empty())
        paths.addRead("--cover", request.coverFile);
    if (request.toStandardOutput)
        paths.addStandardOutput("-o - (standard output)");
    else if (!request.splitChapters)
        paths.addWritten(options.output.empty()
                             ? "the sound file of " + quotedName(request.input.native())
                             : std::string("-o"),
                         request.output);
    for (const fs::path& file : plan.files)
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
// title, author, date and language settle what the options leave open.
void chooseInputKind(ConversionRequest& request, const ConvertOptions& options,
                     const VoiceRegistry& registry, bool alone) {
    request.inputKind = options.inputType.value_or(
        options.controls.ssml ? InputKind::Ssml : inputKindOfFile(request.input));
    request.controls.ssml = request.inputKind == InputKind::Ssml;
    request.documentChoices = options.documentChoices;
    try {
        adoptDocumentMetadata(request, registry, options.engine.empty(),
                              StopSignalOwner::stopFlag());
    } catch (const FileError&) {
        if (alone)
            throw;
        // That file fails on its own when converted, and the others go on.
    }
    if (!request.tags.empty() && !request.tags.software && holdsTags(chosenContainerOf(request)))
        request.tags.software = "kestrova-wav-cli " KESTROVA_VERSION;
}

} // namespace

std::vector<ConversionRequest> conversionRequests(const ConvertOptions& options,
                                                  const VoiceRegistry& registry) {
    const std::vector<fs::path> outputs = outputPaths(options);
    const ConversionRequest common = commonSettings(options, registry);
    std::vector<ConversionRequest> requests;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        ConversionRequest& request = requests.emplace_back(common);
        request.input = options.inputs[i] == standardInputName ? standardInputAsFile()
                                                               : fs::path(options.inputs[i]);
        request.toStandardOutput = options.toStandardOutput();
        request.output = request.toStandardOutput ? fs::path("standard output") : outputs[i];
        chooseInputKind(request, options, registry, options.inputs.size() == 1);
    }
    // Choices for a document's reader with no document to read are a mistake of usage.
    if (options.documentChoices.any() &&
        std::none_of(requests.begin(), requests.end(),
                     [](const ConversionRequest& r) { return isStructured(r.inputKind); }))
        throw UsageError("--read-alt, --read-notes and --read-code choose what a document's "
                         "reader leaves out: not with plain text or SSML input");
    return requests;
}

void checkPaths(const ConvertOptions& options, const std::vector<ConversionRequest>& requests) {
    ConversionPaths batch;
    // A selection of chapters none of the text has is found here, before anything is written.
    const bool plans = options.splitChapters || !options.cueSheet.empty() || options.chaptersOnly;
    for (const ConversionRequest& request : requests) {
        ChapterPlan plan;
        try {
            if (plans)
                plan = planChapters(request);
        } catch (const FileError&) {
            if (requests.size() == 1)
                throw;
            // That file fails on its own, and the others go on.
        }
        const ConversionPaths paths = pathsOf(options, request, plan);
        checkClash(paths);
        checkSideFiles(options, request, plan);
        batch.add(paths);
    }
    if (requests.size() > 1)
        checkClash(batch);
}

void makeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw SpeechError("cannot make the folder " + quotedName(folder) + ": " + error.message());
}

} // namespace kestrova::cli
