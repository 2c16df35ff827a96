#include "command_line.h"

#include "app/format_rule.h"
#include "progress_bar.h"
#include "speech/converter.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/voice.h"

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
#include <string>
#include <unistd.h>
#include <vector>

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

struct ConvertOptions {
    std::string engine;
    std::optional<int> formatCode;
    std::string output;
    std::optional<Container> type;
    std::string input;
    unsigned jobs = defaultJobs();
    bool noClobber = false;
    bool quiet = false;
    VoiceControls controls;
    std::vector<std::string> lexicons;
};

int convert(const ConvertOptions& options) {
    const VoiceRegistry registry;
    ConversionRequest request;
    request.input = options.input;
    request.toStandardOutput = options.output == "-";
    request.output = request.toStandardOutput ? std::filesystem::path("standard output")
                     : options.output.empty()
                         ? std::filesystem::path(options.input).replace_extension(".wav")
                         : std::filesystem::path(options.output);
    request.container = options.type;
    request.voice = registry.find(options.engine);
    request.format = AudioFormat::fromFormatCode(
        options.formatCode.value_or(app::formatCodeForEngine(options.engine)));
    request.replaceExisting = !options.noClobber;
    request.jobs = options.jobs;
    request.controls = options.controls;
    request.controls.lexicons.assign(options.lexicons.begin(), options.lexicons.end());
    request.voices = &registry;
    request.warning = [](const std::string& warning) {
        std::fprintf(stderr, "kestrova-wav-cli: warning: %s\n", warning.c_str());
    };

    std::optional<ProgressBar> bar;
    ProgressCallback progress;
    if (!options.quiet && ::isatty(STDERR_FILENO)) {
        bar.emplace(stderr);
        progress = [&bar](double fraction) {
            bar->update(fraction);
        };
    }
    stopOnSignals();
    // A reader of standard error that has gone must not end a conversion that succeeded: the
    // progress and the summary are then lost, no more. A write that matters fails with EPIPE
    // and is reported as any failure. Worker processes inherit this.
    ::signal(SIGPIPE, SIG_IGN);
    const ConversionResult result = convertTextFile(request, progress, &stopRequested);
    if (bar)
        bar->finish();
    if (!options.quiet) {
        const std::string& output = request.output.native();
        const std::string shown = isPlainName(output) ? output : quotedName(output);
        const std::string limited =
            result.limitedSamples > 0
                ? ", " + std::to_string(result.limitedSamples) + " samples limited"
                : std::string();
        std::fprintf(stderr, "%s: %.1f s of %s, voice %s%s\n", shown.c_str(), result.seconds,
                     request.format.describe().c_str(), request.voice.displayName.c_str(),
                     limited.c_str());
    }
    return 0;
}

} // namespace

int run(int argc, char** argv) {
    CLI::App cli{"Kestrova WAV Converter: renders text files into spoken-audio wave files.",
                 "kestrova-wav-cli"};
    cli.require_subcommand(1);

    cli.add_subcommand("voices", "List every installed voice: name, id, language, native rate");

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
        "Output file (default: INPUT with .wav); .flac, .ogg, .opus and .mp3 choose those "
        "containers. -: standard output. A link is written through; a device is written into; "
        "a FIFO, like standard output, gets a stream (AU unless --type says otherwise)");
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
                         "; never more than the text has chunks. 0: render in this process "
                         "(eSpeak NG then varies slightly from run to run)")
        ->capture_default_str()
        ->transform(decimalNumber(0, maximumJobs(), true,
                                  "the number of jobs is a decimal number, 0 or more"));
    VoiceControls& controls = options.controls;
    convertCommand
        ->add_option("--rate", controls.ratePercent,
                     "Speed in percent of the voice's own, a decimal number 25 to 400")
        ->transform(decimalNumber(25, 400, false, "the rate is a decimal number from 25 to 400"));
    convertCommand
        ->add_option("--pitch", controls.pitchPercent,
                     "Pitch in percent of the voice's own, a decimal number 50 to 200")
        ->transform(decimalNumber(50, 200, false, "the pitch is a decimal number from 50 to 200"));
    convertCommand
        ->add_option("--volume", controls.volumePercent,
                     "Loudness in percent, a decimal number 0 to 400: a gain on the samples; "
                     "samples that would clip are limited, and counted in the summary")
        ->transform(decimalNumber(0, 400, false, "the volume is a decimal number from 0 to 400"));
    const std::string pauseLimit = std::to_string(maximumPauseMs);
    convertCommand
        ->add_option("--sentence-pause", controls.sentencePauseMs,
                     "Silence between two sentences of a paragraph, in milliseconds, a decimal "
                     "number 0 to " +
                         pauseLimit + "; it replaces the voice's own pause")
        ->transform(
            decimalNumber(0, maximumPauseMs, false,
                          "a pause is a decimal number of milliseconds from 0 to " + pauseLimit));
    convertCommand
        ->add_option("--paragraph-pause", controls.paragraphPauseMs,
                     "Silence between two paragraphs (a blank line ends one), in milliseconds, "
                     "a decimal number 0 to " +
                         pauseLimit + "; it replaces the voice's own pause")
        ->transform(
            decimalNumber(0, maximumPauseMs, false,
                          "a pause is a decimal number of milliseconds from 0 to " + pauseLimit));
    convertCommand->add_option(
        "--lexicon", options.lexicons,
        "Pronunciation list, a UTF-8 file of lines \"word = replacement\" or \"/pattern/ = "
        "replacement\"; may be given several times, later files winning");
    convertCommand->add_flag("--ssml", controls.ssml,
                             "The input is SSML 1.1 markup, not plain text");
    convertCommand->add_flag("-n,--no-clobber", options.noClobber,
                             "Fail rather than replace an existing output file");
    convertCommand->add_flag("-q,--quiet", options.quiet, "No progress bar and no summary");
    convertCommand->add_option("INPUT", options.input, "Text file to read (never deleted)")
        ->required();

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // CLI11 prints the help or the usage error; --help is a success, the rest bad usage.
        return cli.exit(error) == 0 ? 0 : exitUsage;
    }
    try {
        if (cli.got_subcommand("voices")) {
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
    } catch (const ConversionCancelled& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
        return 128 + stopSignal.load(); // as a shell reports a process the signal ended
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
    }
    return exitFailure;
}

} // namespace kestrova::cli
