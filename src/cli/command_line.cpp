#include "command_line.h"

#include "acx_check.h"
#include "app/format_rule.h"
#include "conversion_requests.h"
#include "convert_declarations.h"
#include "convert_options.h"
#include "progress_bar.h"
#include "shell_completion.h"
#include "side_files.h"
#include "speech/batch_conversion.h"
#include "speech/chapter_selection.h"
#include "speech/conversion_plan.h"
#include "speech/converter.h"
#include "speech/input_kinds.h"
#include "speech/quoted_name.h"
#include "speech/read_along.h"
#include "speech/request_check.h"
#include "speech/speech_error.h"
#include "speech/stop_signal_owner.h"
#include "summary.h"
#include "voice_listing.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <signal.h>
#include <tuple>
#include <unistd.h>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;
// Only a conversion stops by itself, naming what it stopped: the other commands end as the
// signal ends a process, a stop that came meanwhile too.
void leaveStopsToTheSignals() {
    StopSignalOwner::releaseStops();
    if (const int signal = StopSignalOwner::stopSignal(); signal != 0)
        ::raise(signal);
}

// What the user is shown as the conversions go: the bar on a terminal unless quiet, JSON
// lines where asked.
std::unique_ptr<ProgressView> progressView(const ConvertOptions& options, bool oneFile) {
    if (options.progress == "json")
        return std::make_unique<ProgressJsonLines>(stderr, oneFile);
    if (!options.quiet && (options.progress == "bar" || ::isatty(STDERR_FILENO)))
        return std::make_unique<ProgressBar>(stderr);
    return nullptr;
}

ProgressCallback progressTo(ProgressView* view) {
    if (!view)
        return {};
    return [view](double fraction) {
        view->update(fraction);
    };
}

// Several files: each failure is one line and the others go on; one bar for them all.
int convertMany(const std::vector<ConversionPlan>& plans, const ConvertOptions& options,
                ProgressView* view) {
    std::vector<ConversionRequest> requests;
    for (const ConversionPlan& plan : plans)
        requests.push_back(plan.request());
    const auto report = [&](const BatchFileOutcome& outcome) {
        if (outcome.converted && options.quiet)
            return;
        if (view)
            view->clear();
        const ConversionRequest& request = requests[outcome.index];
        if (outcome.converted)
            summarize(request, outcome.seconds, outcome.limitedSamples, outcome.loudness);
        else
            std::fprintf(stderr, "kestrova-wav-cli: %s\n", outcome.failure.c_str());
    };
    const BatchSummary summary = convertTextFiles(requests, options.jobs, progressTo(view), report,
                                                  StopSignalOwner::stopFlag());
    if (view)
        view->finish();
    if (summary.cancelled) {
        std::fprintf(stderr, "kestrova-wav-cli: stopped: %zu of %zu files converted\n",
                     summary.converted, requests.size());
        return 128 + StopSignalOwner::stopSignal();
    }
    if (summary.failed == 0)
        return 0;
    std::fprintf(stderr, "kestrova-wav-cli: %zu of %zu files failed\n", summary.failed,
                 requests.size());
    return exitFailure;
}

int convert(const ConvertOptions& options) {
    const VoiceRegistry registry;
    std::vector<ConversionRequest> requests = conversionRequests(options, registry);
    std::vector<ConversionPlan> plans =
        conversionPlans(options, registry, std::move(requests), StopSignalOwner::stopFlag());
    checkPaths(options, plans);
    if (!options.folder.empty())
        makeFolder(options.folder);

    const std::unique_ptr<ProgressView> view = progressView(options, plans.size() == 1);
    // A reader of standard error that has gone must not end a conversion that succeeded: the
    // progress and the summary are then lost, no more. A write that matters fails with EPIPE
    // and is reported as any failure. Worker processes inherit this.
    ::signal(SIGPIPE, SIG_IGN);
    if (plans.size() > 1)
        return convertMany(plans, options, view.get());

    ConversionPlan& plan = plans.front();
    const ConversionRequest& request = plan.request();
    if (view)
        plan.request().callbacks.soundWritten = [&view](double seconds) {
            view->soundWritten(seconds);
        };
    const ConversionResult result =
        options.writesReadAlongBook()
            ? convertToReadAlongBook(plan, progressTo(view.get()), StopSignalOwner::stopFlag())
            : convertTextFile(plan, progressTo(view.get()), StopSignalOwner::stopFlag());
    if (view)
        view->finish();
    if (!options.quiet) {
        summarize(request, result.seconds, result.limitedSamples, result.loudness);
        summarizeResumed(result);
        if (options.findsChapters() || isStructured(request.input.kind))
            summarizeChapters(result);
        if (options.acx)
            summarizeAcx(result.chapterFiles);
    }
    writeSideFiles(options, plan, result);
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

    // Declared, then validated, then turned into the conversions.
    ConvertOptions options;
    CLI::App* convertCommand =
        cli.add_subcommand("convert", "Render a text file into a sound file");
    declareConvertOptions(convertCommand, options);

    std::string shellName;
    cli.add_subcommand("completions", "Print the completion script of a shell for this program: "
                                      "source <(kestrova-wav-cli completions bash)")
        ->add_option("SHELL", shellName, "bash, zsh or fish")
        ->type_name("bash|zsh|fish")
        ->check(CLI::IsMember({"bash", "zsh", "fish"}).description(""))
        ->required();

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // CLI11 prints the help or the usage error; --help is a success, the rest bad usage.
        return cli.exit(error) == 0 ? 0 : exitUsage;
    }
    try {
        if (!cli.got_subcommand("convert"))
            leaveStopsToTheSignals();
        if (cli.got_subcommand("voices"))
            return listVoicesCommand(voicesAsJson);
        if (cli.got_subcommand("completions")) {
            const std::string script = completionScript(cli, *shellNamed(shellName));
            return std::fwrite(script.data(), 1, script.size(), stdout) == script.size() &&
                           std::fflush(stdout) == 0
                       ? 0
                       : exitFailure;
        }
        options.applyPreset();
        options.validate();
        return convert(options);
    } catch (const UsageError& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
        return exitUsage;
    } catch (const RequestRefused& refusal) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", refusal.what());
        return refusal.kind() == RefusalKind::Usage ? exitUsage : exitFailure;
    } catch (const ConversionCancelled& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
        return 128 + StopSignalOwner::stopSignal(); // as a shell reports a process the signal ended
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "kestrova-wav-cli: %s\n", failure.what());
    }
    return exitFailure;
}

} // namespace kestrova::cli
