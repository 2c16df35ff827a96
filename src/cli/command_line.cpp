#include "command_line.h"

#include "app/format_rule.h"
#include "progress_bar.h"
#include "speech/batch_conversion.h"
#include "speech/conversion_paths.h"
#include "speech/converter.h"
#include "speech/file_failures.h"
#include "speech/json_text.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"
#include "speech/voice.h"
#include "standard_input.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <signal.h>
#include <unistd.h>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;
// A minute of silence is already more than any reading needs.
constexpr unsigned long maximumPauseMs = 60000;

// The signal that asked the conversion to stop, for the handler to set: a signal handler
// can reach nothing but a lock-free atomic of static duration.
std::atomic<int> stopSignal{0};
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    stopSignal.store(signal);
    stopRequested.store(true);
}

// SIGINT, SIGTERM and SIGHUP stop the conversion between chunks, so that the temporary
// file is removed and nothing is left at the output path.
void stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// CLI11 reads "022" as octal and "0x12" as hexadecimal. Numbers here are decimal digits
// only, leading zeros meaning nothing; the validator leaves the plain decimal number for
// CLI11 to convert. Above the maximum a number is refused, or with clampAbove taken as it.
CLI::Validator decimalNumber(unsigned long minimum, unsigned long maximum, bool clampAbove,
                             const std::string& accepted) {
    return CLI::Validator(
        [=](std::string& value) -> std::string {
            const std::string refused = quotedName(value) + " is not accepted: " + accepted;
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
                return refused;
            unsigned long number = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), number);
            if (error == std::errc::result_out_of_range)
                number = ULONG_MAX;
            if (number < minimum || (number > maximum && !clampAbove))
                return refused;
            value = std::to_string(std::min(number, maximum));
            return {};
        },
        ""); // the option's help says what is accepted
}

void listVoices(const VoiceRegistry& registry) {
    std::size_t nameWidth = 4;
    std::size_t idWidth = 2;
    for (const Voice& voice : registry.voices()) {
        nameWidth = std::max(nameWidth, voice.displayName.size());
        idWidth = std::max(idWidth, voice.id.size());
    }
    std::printf("%-*s  %-*s  %-16s  %s\n", static_cast<int>(nameWidth), "NAME",
                static_cast<int>(idWidth), "ID", "LANGUAGE", "RATE");
    for (const Voice& voice : registry.voices())
        std::printf("%-*s  %-*s  %-16s  %d\n", static_cast<int>(nameWidth),
                    voice.displayName.c_str(), static_cast<int>(idWidth), voice.id.c_str(),
                    voice.language.c_str(), voice.nativeRate);
    // An engine that cannot start is left out of the list, with one line saying why.
    for (const UnavailableEngine& engine : registry.unavailableEngines())
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s is left out: %s\n",
                     engineName(engine.engine), engine.reason.c_str());
    std::string defaultVoice;
    try {
        defaultVoice = registry.defaultVoice().displayName;
    } catch (const SpeechError&) {
        defaultVoice = "none (unavailable)";
    }
    std::printf("\nDefault voice (empty engine name): %s\n", defaultVoice.c_str());
}

// The same list for scripts: a JSON array of one object per voice.
void listVoicesAsJson(const VoiceRegistry& registry) {
    const Voice* defaultVoice = nullptr;
    try {
        defaultVoice = &registry.defaultVoice();
    } catch (const SpeechError&) {
    }
    std::string json = "[";
    for (const Voice& voice : registry.voices()) {
        json += json.size() == 1 ? "\n" : ",\n";
        json += "  {\"displayName\": " + jsonString(voice.displayName) +
                ", \"id\": " + jsonString(voice.id) +
                ", \"language\": " + jsonString(voice.language) +
                ", \"nativeRate\": " + std::to_string(voice.nativeRate) +
                ", \"engine\": " + jsonString(engineName(voice.engine)) +
                ", \"default\": " + (&voice == defaultVoice ? "true" : "false") + "}";
    }
    json += registry.voices().empty() ? "]\n" : "\n]\n";
    std::fputs(json.c_str(), stdout);
    for (const UnavailableEngine& engine : registry.unavailableEngines())
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s is left out: %s\n",
                     engineName(engine.engine), engine.reason.c_str());
}

struct ConvertOptions {
    std::string engine;
    std::optional<int> formatCode;
    std::string output;
    std::string folder;
    std::optional<Container> type;
    std::vector<std::string> inputs;
    unsigned jobs = defaultJobs();
    bool noClobber = false;
    bool quiet = false;
    SoundTags tags;
    VoiceControls controls;
    std::vector<std::string> lexicons;
    std::string timings;   // JSON file of where each sentence lands
    std::string subtitles; // .srt, .vtt or .lrc
    bool chapters = false;
    std::optional<std::string> chapterPattern;
    std::string cueSheet;
    bool splitChapters = false;

    bool findsChapters() const {
        return chapters || chapterPattern || !cueSheet.empty() || splitChapters;
    }
};

// A usage error, found before anything is read or written: status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* endingFor(std::optional<Container> type) {
    switch (type.value_or(Container::Wave)) {
    case Container::Wave:
        return ".wav";
    case Container::Au:
        return ".au";
    case Container::Flac:
        return ".flac";
    case Container::OggVorbis:
        return ".ogg";
    case Container::OggOpus:
        return ".opus";
    case Container::Mp3:
        return ".mp3";
    case Container::Raw:
        return ".raw";
    }
    return ".wav";
}

constexpr const char* standardInputName = "-";

// Where each input's sound goes: -o for the one input; with -d, in that folder under the
// input's name with the type's ending ("stdin" for standard input); else beside the input.
std::vector<std::filesystem::path> outputPaths(const ConvertOptions& options) {
    namespace fs = std::filesystem;
    const auto& inputs = options.inputs;
    if (inputs.size() > 1 && !options.output.empty())
        throw UsageError("-o names the output of one input; for several, -d names a folder");
    if (!options.output.empty() && !options.folder.empty())
        throw UsageError("-o and -d cannot both be given");
    if (std::count(inputs.begin(), inputs.end(), standardInputName) > 1)
        throw UsageError("standard input (-) can be read only once");
    const bool readsStandardInput =
        std::find(inputs.begin(), inputs.end(), standardInputName) != inputs.end();
    if (readsStandardInput && options.output.empty() && options.folder.empty())
        throw UsageError("the sound of standard input (-) needs -o or -d to say where it goes");
    if (!options.tags.empty() && (options.type == Container::Au || options.type == Container::Raw))
        throw UsageError("tags need a file type that holds them: wav, flac, ogg, opus or mp3");
    const bool namesSideFiles =
        !options.timings.empty() || !options.subtitles.empty() || !options.cueSheet.empty();
    if (namesSideFiles && inputs.size() > 1)
        throw UsageError("--timings, --subtitles and --cue-sheet name the files of one input");
    if (options.splitChapters && options.output == "-")
        throw UsageError("--split-chapters writes files: not standard output");
    if (options.splitChapters && options.controls.ssml)
        throw UsageError("chapters are found in plain text: not --split-chapters with --ssml");
    if (options.splitChapters && !options.cueSheet.empty())
        throw UsageError("a cue sheet describes one sound file: not --split-chapters");
    if (!options.subtitles.empty()) {
        try {
            subtitleKindForPath(options.subtitles);
        } catch (const SpeechError& failure) {
            throw UsageError(failure.what()); // before anything is read
        }
    }
    if (!options.cueSheet.empty() && options.type == Container::Raw)
        throw UsageError("a cue sheet needs a sound file a player can read: not raw PCM");
    if (options.chapterPattern) {
        try {
            checkChapterPattern(*options.chapterPattern);
        } catch (const SpeechError& failure) {
            throw UsageError("the chapter pattern " + quotedName(*options.chapterPattern) +
                             " is refused: " + failure.what());
        }
    }

    std::vector<fs::path> outputs;
    if (!options.output.empty())
        return {fs::path(options.output)};
    for (const std::string& input : inputs) {
        const fs::path source = input == standardInputName ? fs::path("stdin") : fs::path(input);
        outputs.push_back(options.folder.empty()
                              ? fs::path(source).replace_extension(endingFor(options.type))
                              : fs::path(options.folder) /
                                    source.filename().replace_extension(endingFor(options.type)));
    }
    // Two inputs writing one file, or one input's sound landing on another input, are
    // found with every other path of the batch (checkPaths).
    return outputs;
}

// A rate asked for by -f is never changed: one Opus lacks is bad usage, before anything is
// rendered (without -f, Opus is written at the next rate it has).
void refuseRateOpusLacks(const ConvertOptions& options,
                         const std::vector<std::filesystem::path>& outputs,
                         const AudioFormat& format) {
    if (!options.formatCode)
        return;
    for (const std::filesystem::path& output : outputs) {
        const Container container =
            options.type.value_or(options.output == "-" ? Container::Au : containerForPath(output));
        if (writtenFormat(container, format) != format)
            throw UsageError("Opus has no " + std::to_string(format.sampleRate) +
                             " Hz (format code " + std::to_string(*options.formatCode) +
                             "): choose a format code of 8, 12, 16, 24 or 48 kHz");
    }
}

// The folder of -d, made with its parents where missing.
void makeFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw SpeechError("cannot make the folder " + quotedName(folder) + ": " + error.message());
}

std::string shownName(const std::filesystem::path& path) {
    const std::string& name = path.native();
    return isPlainName(name) ? name : quotedName(name);
}

// The container a request's sound is written in, as the converter settles it.
Container containerOf(const ConversionRequest& request) {
    return request.container.value_or(request.toStandardOutput ? Container::Au
                                                               : containerForPath(request.output));
}

// "OUT: 12.3 s of 22050 Hz 16-bit mono, voice NAME", and the samples the volume limited, if any;
// Opus at another rate than asked says so.
void summarize(const ConversionRequest& request, double seconds, std::uint64_t limitedSamples) {
    const AudioFormat written = writtenFormat(containerOf(request), request.format);
    std::string format = written.describe();
    if (written != request.format)
        format += " (Opus has no " + std::to_string(request.format.sampleRate) + " Hz)";
    std::string limited =
        limitedSamples > 0 ? ", " + std::to_string(limitedSamples) + " samples limited" : "";
    if (request.splitChapters)
        limited += ", one file per chapter"; // named NAME-NN-Title beside it
    std::fprintf(stderr, "%s: %.1f s of %s, voice %s%s\n", shownName(request.output).c_str(),
                 seconds, format.c_str(), request.voice.displayName.c_str(), limited.c_str());
}

// "5 chapters", and with split chapters each file's name.
void summarizeChapters(const ConversionResult& result) {
    const std::size_t headings = static_cast<std::size_t>(
        std::count_if(result.timings.chapters.begin(), result.timings.chapters.end(),
                      [](const ChapterTiming& chapter) { return chapter.number > 0; }));
    std::fprintf(stderr, "%zu %s found\n", headings, headings == 1 ? "chapter" : "chapters");
    for (const std::filesystem::path& file : result.chapterFiles)
        std::fprintf(stderr, "  %s\n", shownName(file).c_str());
}

// The name of the sound as a file beside it sees it.
std::string soundNameFrom(const std::filesystem::path& sideFile,
                          const std::filesystem::path& sound) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::absolute(sideFile, error).parent_path();
    const std::filesystem::path relative =
        std::filesystem::absolute(sound, error).lexically_relative(base);
    return (relative.empty() ? sound : relative).string();
}

// The timings, subtitles and cue sheet, written once the sound is complete.
void writeSideFiles(const ConvertOptions& options, const ConversionRequest& request,
                    const ConversionResult& result) {
    const bool replace = !options.noClobber;
    if (!options.timings.empty()) {
        // The files written, as the JSON's folder sees them: the one sound file, or each
        // chapter's; standard output is no file.
        std::optional<std::string> sound;
        std::vector<std::string> chapterFiles;
        if (request.splitChapters)
            for (const std::filesystem::path& file : result.chapterFiles)
                chapterFiles.push_back(soundNameFrom(options.timings, file));
        else if (!request.toStandardOutput)
            sound = soundNameFrom(options.timings, request.output);
        writeTextFile(options.timings, timingsJson(result.timings, sound, chapterFiles),
                      "timings file", replace);
    }
    if (!options.subtitles.empty())
        writeTextFile(options.subtitles,
                      subtitles(result.timings, subtitleKindForPath(options.subtitles)),
                      "subtitle file", replace);
    if (!options.cueSheet.empty()) {
        std::string sheet;
        try {
            sheet = cueSheet(result.timings, soundNameFrom(options.cueSheet, request.output),
                             request.container.value_or(containerForPath(request.output)),
                             request.tags);
        } catch (const SpeechError& failure) {
            throw FileError(outputFailure(options.cueSheet, failure.what(), "cue sheet"));
        }
        writeTextFile(options.cueSheet, sheet, "cue sheet", replace);
    }
}

// Every path of one conversion, named by the option that gives it.
ConversionPaths pathsOf(const ConvertOptions& options, const ConversionRequest& request,
                        const ChapterPlan& plan) {
    ConversionPaths paths;
    paths.addRead("INPUT", request.input);
    for (const std::filesystem::path& lexicon : request.controls.lexicons)
        paths.addRead("--lexicon", lexicon);
    if (request.toStandardOutput)
        paths.addStandardOutput("-o - (standard output)");
    else if (!request.splitChapters)
        paths.addWritten(options.output.empty()
                             ? "the sound file of " + quotedName(request.input.native())
                             : std::string("-o"),
                         request.output);
    for (const std::filesystem::path& file : plan.files)
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

// The side files, as far as they can be known before the sound is rendered: a name a cue
// sheet cannot hold is bad usage; a file -n will not replace, or more tracks than a cue sheet
// holds, a failure.
void checkSideFiles(const ConvertOptions& options, const ConversionRequest& request,
                    const ChapterPlan& plan) {
    if (!options.cueSheet.empty()) {
        try {
            checkCueSheetSound(soundNameFrom(options.cueSheet, request.output),
                               request.container.value_or(containerForPath(request.output)));
        } catch (const SpeechError& failure) {
            throw UsageError(outputFailure(options.cueSheet, failure.what(), "cue sheet"));
        }
        try {
            checkCueSheetTracks(plan.chapters);
        } catch (const SpeechError& failure) {
            throw FileError(outputFailure(options.cueSheet, failure.what(), "cue sheet"));
        }
    }
    const bool replace = !options.noClobber;
    if (!options.timings.empty())
        checkTextFilePath(options.timings, "timings file", replace);
    if (!options.subtitles.empty())
        checkTextFilePath(options.subtitles, "subtitle file", replace);
    if (!options.cueSheet.empty())
        checkTextFilePath(options.cueSheet, "cue sheet", replace);
}

// Before anything is rendered or created: no two paths of a conversion, nor two outputs of a
// batch, are one file (bad usage); the side files can be written.
void checkPaths(const ConvertOptions& options, const std::vector<ConversionRequest>& requests) {
    ConversionPaths batch;
    const bool plans = options.splitChapters || !options.cueSheet.empty();
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
        try {
            paths.check();
        } catch (const PathClash& clash) {
            throw UsageError(clash.what());
        }
        checkSideFiles(options, request, plan);
        batch.add(paths);
    }
    if (requests.size() > 1) {
        try {
            batch.check();
        } catch (const PathClash& clash) {
            throw UsageError(clash.what());
        }
    }
}

// Several files: each failure is one line and the others go on; one bar for them all.
int convertMany(const std::vector<ConversionRequest>& requests, const ConvertOptions& options,
                std::optional<ProgressBar>& bar) {
    ProgressCallback progress;
    if (bar)
        progress = [&bar](double fraction) {
            bar->update(fraction);
        };
    const auto report = [&](const BatchFileOutcome& outcome) {
        if (outcome.converted && options.quiet)
            return;
        if (bar)
            bar->clear();
        const ConversionRequest& request = requests[outcome.index];
        if (outcome.converted)
            summarize(request, outcome.seconds, outcome.limitedSamples);
        else
            std::fprintf(stderr, "kestrova-wav-cli: %s\n", outcome.failure.c_str());
    };
    const BatchSummary summary =
        convertTextFiles(requests, options.jobs, progress, report, &stopRequested);
    if (bar)
        bar->finish();
    if (summary.cancelled) {
        std::fprintf(stderr, "kestrova-wav-cli: stopped: %zu of %zu files converted\n",
                     summary.converted, requests.size());
        return 128 + stopSignal.load();
    }
    if (summary.failed == 0)
        return 0;
    std::fprintf(stderr, "kestrova-wav-cli: %zu of %zu files failed\n", summary.failed,
                 requests.size());
    return exitFailure;
}

int convert(const ConvertOptions& options) {
    const std::vector<std::filesystem::path> outputs = outputPaths(options);
    const VoiceRegistry registry;
    ConversionRequest common;
    common.container = options.type;
    common.voice = registry.find(options.engine);
    common.format = AudioFormat::fromFormatCode(
        options.formatCode.value_or(app::formatCodeForEngine(options.engine)));
    common.replaceExisting = !options.noClobber;
    common.jobs = options.jobs;
    common.tags = options.tags;
    common.controls = options.controls;
    common.controls.lexicons.assign(options.lexicons.begin(), options.lexicons.end());
    common.voices = &registry;
    common.warning = [](const std::string& warning) {
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s\n", warning.c_str());
    };
    if (options.findsChapters())
        common.chapterPattern = options.chapterPattern.value_or(std::string(defaultChapterPattern));
    common.splitChapters = options.splitChapters;
    common.recordTimings = !options.timings.empty() || !options.subtitles.empty();
    // Each chapter's file is titled with its heading.
    const bool holdsTags = options.type != Container::Au && options.type != Container::Raw;
    if (!common.tags.empty() || (options.splitChapters && holdsTags))
        common.tags.software = "kestrova-wav-cli " KESTROVA_VERSION;
    refuseRateOpusLacks(options, outputs, common.format);
    std::vector<ConversionRequest> requests;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        ConversionRequest& request = requests.emplace_back(common);
        request.input = options.inputs[i] == standardInputName
                            ? standardInputAsFile()
                            : std::filesystem::path(options.inputs[i]);
        request.toStandardOutput = options.output == "-";
        request.output =
            request.toStandardOutput ? std::filesystem::path("standard output") : outputs[i];
    }
    checkPaths(options, requests);
    if (!options.folder.empty())
        makeFolder(options.folder);

    std::optional<ProgressBar> bar;
    if (!options.quiet && ::isatty(STDERR_FILENO))
        bar.emplace(stderr);
    stopOnSignals();
    // A reader of standard error that has gone must not end a conversion that succeeded: the
    // progress and the summary are then lost, no more. A write that matters fails with EPIPE
    // and is reported as any failure. Worker processes inherit this.
    ::signal(SIGPIPE, SIG_IGN);
    if (requests.size() > 1)
        return convertMany(requests, options, bar);

    const ConversionRequest& request = requests.front();
    ProgressCallback progress;
    if (bar)
        progress = [&bar](double fraction) {
            bar->update(fraction);
        };
    const ConversionResult result = convertTextFile(request, progress, &stopRequested);
    if (bar)
        bar->finish();
    if (!options.quiet) {
        summarize(request, result.seconds, result.limitedSamples);
        if (options.findsChapters())
            summarizeChapters(result);
    }
    writeSideFiles(options, request, result);
    return 0;
}

} // namespace

int run(int argc, char** argv) {
    CLI::App cli{"Kestrova WAV Converter: renders text files into spoken-audio wave files.",
                 "kestrova-wav-cli"};
    cli.require_subcommand(1);

    bool voicesAsJson = false;
    cli.add_subcommand("voices", "List every installed voice: name, id, language, native rate")
        ->add_flag("--json", voicesAsJson,
                   "As a JSON array of objects: displayName, id, language, nativeRate, engine, "
                   "default");

    ConvertOptions options;
    CLI::App* convertCommand =
        cli.add_subcommand("convert", "Render a text file into a sound file");
    convertCommand->add_option(
        "-e,--engine", options.engine,
        "Voice: display name, any letter case, or id; empty: the default voice");
    convertCommand
        ->add_option("-f,--format", options.formatCode,
                     "SAPI 5 PCM format code, a decimal number 4 to 39 (18: 16 kHz, 22: 22.05 kHz "
                     "16-bit mono); default: 16 kHz for engine names with \"16\" and \"ATT\" or "
                     "\"VW Kate\"/\"VW Paul\", else 22.05 kHz")
        ->transform(decimalNumber(4, 39, false, "a format code is a decimal number from 4 to 39"));
    convertCommand->add_option(
        "-o,--output", options.output,
        "Output file of the one INPUT (default: INPUT with .wav, or the ending of --type); "
        ".flac, .ogg, .opus and .mp3 choose those containers. -: standard output. A link is "
        "written through; a device is written into; a FIFO, like standard output, gets a "
        "stream (AU unless --type says otherwise)");
    convertCommand->add_option("-d,--directory", options.folder,
                               "Folder for the outputs, made if missing: each under its "
                               "input's name with .wav or the ending of --type (stdin.wav for "
                               "standard input)");
    const std::map<std::string, Container> types{
        {"wav", Container::Wave},      {"au", Container::Au},        {"flac", Container::Flac},
        {"ogg", Container::OggVorbis}, {"opus", Container::OggOpus}, {"mp3", Container::Mp3},
        {"raw", Container::Raw}};
    convertCommand
        ->add_option("--type", options.type,
                     "File type, whatever OUT's ending: wav, au, flac, ogg, opus, mp3 or raw "
                     "(16-bit little-endian PCM, no header). All but wav can be streamed")
        ->transform(CLI::CheckedTransformer(types, CLI::ignore_case));
    const std::string jobsLimit = std::to_string(maximumJobs());
    convertCommand
        ->add_option("-j,--jobs", options.jobs,
                     "Worker processes rendering side by side, a decimal number; the file is the "
                     "same for any number. At most 4 per core (" +
                         jobsLimit + " here): more is taken as " + jobsLimit +
                         "; never more than the text has chunks. With several inputs, shared "
                         "among the files converted at once. 0 is taken as 1")
        ->capture_default_str()
        ->transform(decimalNumber(0, maximumJobs(), true,
                                  "the number of jobs is a decimal number, 0 or more"));
    VoiceControls& controls = options.controls;
    const auto addPercent = [&](const char* name, int& percent, PercentRange range,
                                const std::string& what, const std::string& help,
                                const std::string& helpAfter) {
        const std::string span =
            std::to_string(range.lowest) + " to " + std::to_string(range.highest);
        const auto lowest = static_cast<unsigned long>(range.lowest);
        const auto highest = static_cast<unsigned long>(range.highest);
        convertCommand->add_option(name, percent, help + ", a decimal number " + span + helpAfter)
            ->transform(decimalNumber(lowest, highest, false,
                                      "the " + what + " is a decimal number from " + span));
    };
    addPercent("--rate", controls.ratePercent, rateRange, "rate",
               "Speed in percent of the voice's own", "");
    addPercent("--pitch", controls.pitchPercent, pitchRange, "pitch",
               "Pitch in percent of the voice's own", "");
    addPercent("--volume", controls.volumePercent, volumeRange, "volume", "Loudness in percent",
               ": a gain on the samples; samples that would clip are limited, and counted in "
               "the summary");
    const std::string pauseLimit = std::to_string(maximumPauseMs);
    const auto addPause = [&](const char* name, std::optional<int>& pause, const char* between) {
        convertCommand
            ->add_option(name, pause,
                         std::string("Silence between ") + between +
                             ", in milliseconds, a decimal number 0 to " + pauseLimit +
                             "; it replaces the voice's own pause")
            ->transform(decimalNumber(0, maximumPauseMs, false,
                                      "a pause is a decimal number of milliseconds from 0 to " +
                                          pauseLimit));
    };
    addPause("--sentence-pause", controls.sentencePauseMs, "two sentences of a paragraph");
    addPause("--paragraph-pause", controls.paragraphPauseMs,
             "two paragraphs (a blank line ends one)");
    // One file each time (a list of values would swallow the INPUT after it), as many
    // times as wanted.
    convertCommand
        ->add_option("--lexicon", options.lexicons,
                     "Pronunciation list, a UTF-8 file of lines \"word = replacement\" or "
                     "\"/pattern/ = replacement\"; one file each time, given again for more, "
                     "later files winning")
        ->allow_extra_args(false);
    convertCommand->add_flag("--ssml", controls.ssml,
                             "The input is SSML 1.1 markup, not plain text");
    convertCommand->add_flag("-n,--no-clobber", options.noClobber,
                             "Fail rather than replace an existing output file");
    convertCommand->add_flag("-q,--quiet", options.quiet, "No progress bar and no summary");
    const std::pair<const char*, std::optional<std::string>*> tagOptions[] = {
        {"--title", &options.tags.title}, {"--artist", &options.tags.artist},
        {"--album", &options.tags.album}, {"--genre", &options.tags.genre},
        {"--date", &options.tags.date},   {"--comment", &options.tags.comment},
        {"--track", &options.tags.track}};
    for (const auto& [name, tag] : tagOptions)
        convertCommand->add_option(
            name, *tag,
            std::string("Tag written into the file (UTF-8; MP3: Latin-1 "
                        "only), with software \"kestrova-wav-cli " KESTROVA_VERSION
                        "\"; not in AU or raw"));
    convertCommand->add_option(
        "--timings", options.timings,
        "Write where each sentence lands to this JSON file: its text, its bytes in the input, "
        "paragraph, chapter, first and last sample (and seconds), and the marks of markup. Each "
        "sentence is then rendered in a call of its own");
    convertCommand->add_option(
        "--subtitles", options.subtitles,
        "Write subtitles, one cue per sentence (a long one in several), to this file: .srt, "
        ".vtt (WebVTT) or .lrc by its ending");
    convertCommand->add_flag(
        "--chapters", options.chapters,
        "Find chapters: a chapter starts at a heading, a paragraph of one line that begins with "
        "Chapter, CHAPTER, Part, Book, Prologue, Epilogue or # (or matches --chapter-pattern); "
        "in a WAV file each heading becomes a cue point");
    convertCommand->add_option("--chapter-pattern", options.chapterPattern,
                               "A PCRE2 pattern for the headings, instead of the words above; "
                               "implies --chapters");
    convertCommand->add_option("--cue-sheet", options.cueSheet,
                               "Write a cue sheet with one track per chapter to this .cue file; "
                               "implies --chapters");
    convertCommand->add_flag(
        "--split-chapters", options.splitChapters,
        "One file per chapter instead of one file: NAME-NN-Title.EXT beside OUT, each titled "
        "with its heading (the text before the first heading: NN 00); implies --chapters");
    convertCommand
        ->add_option("INPUT", options.inputs,
                     "Text files to read (never deleted); -: standard input. Each failure is "
                     "one line, and the others go on")
        ->required();

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // CLI11 prints the help or the usage error; --help is a success, the rest bad usage.
        return cli.exit(error) == 0 ? 0 : exitUsage;
    }
    try {
        if (cli.got_subcommand("voices")) {
            if (voicesAsJson)
                listVoicesAsJson(VoiceRegistry());
            else
                listVoices(VoiceRegistry());
            // The list is what was asked for: losing it is a failure. (A reader that has gone
            // ends the listing by SIGPIPE, as with any program that writes a list.)
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                std::fprintf(stderr, "kestrova-wav-cli: cannot write the voice list: %s\n",
                             std::strerror(errno));
                return exitFailure;
            }
            return 0;
        }
        return convert(options);
    } catch (const UsageError& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
        return exitUsage;
    } catch (const ConversionCancelled& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
        return 128 + stopSignal.load(); // as a shell reports a process the signal ended
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
    }
    return exitFailure;
}

} // namespace kestrova::cli
