#include "speech/batch_conversion.h"

#include "speech/base/child_process.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/text/lexicon/lexicon.h"
#include "speech/whole_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// A loudness report as words after the "done" line's counts, and back: " L", whether each
// measure was taken, the eight numbers, the two counts, whether the target was out of
// reach and the encoder's change; nothing without a report.
std::string loudnessWords(const std::optional<LoudnessReport>& report) {
    if (!report)
        return {};
    const LoudnessMeasure before = report->before.value_or(LoudnessMeasure{});
    const LoudnessMeasure after = report->after.value_or(LoudnessMeasure{});
    char words[320];
    std::snprintf(words, sizeof words,
                  " L %d %d %.17g %.17g %.17g %.17g %.17g %.17g %llu %llu %d %.17g",
                  report->before ? 1 : 0, report->after ? 1 : 0, before.integratedLufs,
                  before.truePeakDbtp, after.integratedLufs, after.truePeakDbtp, report->gainDb,
                  report->ceilingDbtp, static_cast<unsigned long long>(report->limitedSamples),
                  static_cast<unsigned long long>(report->limitedStretches),
                  report->targetOutOfReach ? 1 : 0, report->encoderChangeLu);
    return words;
}

std::optional<LoudnessReport> loudnessOfWords(const char* words) {
    int measuredBefore = 0;
    int measuredAfter = 0;
    LoudnessReport report;
    LoudnessMeasure before;
    LoudnessMeasure after;
    unsigned long long limited = 0;
    unsigned long long stretches = 0;
    int outOfReach = 0;
    if (std::sscanf(words, " L %d %d %lf %lf %lf %lf %lf %lf %llu %llu %d %lf", &measuredBefore,
                    &measuredAfter, &before.integratedLufs, &before.truePeakDbtp,
                    &after.integratedLufs, &after.truePeakDbtp, &report.gainDb, &report.ceilingDbtp,
                    &limited, &stretches, &outOfReach, &report.encoderChangeLu) != 12)
        return std::nullopt;
    if (measuredBefore != 0)
        report.before = before;
    if (measuredAfter != 0)
        report.after = after;
    report.limitedSamples = limited;
    report.limitedStretches = stretches;
    report.targetOutOfReach = outOfReach != 0;
    return report;
}

// A file's process tells the batch how it goes, one line at a time: "progress FRACTION",
// then "done FRAMES LIMITED", "cancelled MESSAGE" or "failed MESSAGE".
void sendLine(int fd, const std::string& line) {
    writeAll(fd, line.data(), line.size()); // short only when the batch is gone: nothing to tell
}

std::string asOneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

[[noreturn]] void convertInThisProcess(const ConversionRequest& request, int out,
                                       const std::atomic<bool>* cancel) {
    ::signal(SIGPIPE, SIG_IGN);
    double sentFraction = -1;
    const ProgressCallback progress = [&](double fraction) {
        // A tenth of a percent is finer than any bar shows.
        if (fraction < 1.0 && fraction - sentFraction < 0.001)
            return;
        sentFraction = fraction;
        char line[32];
        std::snprintf(line, sizeof line, "progress %.4f\n", fraction);
        sendLine(out, line);
    };
    try {
        const ConversionResult result = convertTextFile(request, progress, cancel);
        sendLine(out, "done " + std::to_string(result.frames) + " " +
                          std::to_string(result.limitedSamples) + loudnessWords(result.loudness) +
                          "\n");
    } catch (const ConversionCancelled& failure) {
        sendLine(out, "cancelled " + asOneLine(failure.what()) + "\n");
    } catch (const std::exception& failure) {
        sendLine(out, "failed " + asOneLine(failure.what()) + "\n");
    }
    ::_exit(0); // never the program's exit handlers in a copy of it
}

std::string howItEnded(const ChildEnd& end) {
    return "its process " + end.worded() + (end.killingSignal() != 0 ? "" : " without a word");
}

struct RunningFile {
    ChildProcess process; // its channel closes when the process has ended
    std::size_t index = 0;
    unsigned slot = 0;
    std::string received{};
    double fraction = 0;
    std::optional<BatchFileOutcome> outcome{};
};

class Batch {
public:
    Batch(const std::vector<ConversionRequest>& requests, unsigned jobs,
          const std::atomic<bool>* cancel)
        : requests_(requests), jobs_(jobs),
          concurrent_(
              jobs == 0 ? 1u : static_cast<unsigned>(std::min<std::size_t>(jobs, requests.size()))),
          cancel_(cancel), slotBusy_(concurrent_, false) {
        for (const ConversionRequest& request : requests) {
            struct stat status {};
            const double size = ::stat(request.input.c_str(), &status) == 0
                                    ? static_cast<double>(status.st_size)
                                    : 0.0;
            weights_.push_back(size + 1); // an empty file still counts
            totalWeight_ += weights_.back();
        }
    }

    BatchSummary run(const ProgressCallback& progress, const BatchOutcomeCallback& outcome) {
        std::size_t next = 0;
        bool signalled = false;
        while ((next < requests_.size() && !cancelled()) || !running_.empty()) {
            if (cancelled() && !signalled) {
                for (const RunningFile& file : running_)
                    file.process.sendSignal(SIGTERM);
                signalled = true;
            }
            while (!cancelled() && next < requests_.size() && running_.size() < concurrent_)
                start(next++, outcome);
            if (running_.empty())
                continue;
            collect();
            for (auto file = running_.begin(); file != running_.end();) {
                if (file->process.channelOpen()) {
                    ++file;
                    continue;
                }
                finish(*file, outcome);
                file = running_.erase(file);
            }
            if (progress)
                progress(std::min(1.0, doneWeight() / totalWeight_));
        }
        summary_.notStarted = requests_.size() - next;
        summary_.cancelled = cancelled();
        return summary_;
    }

private:
    bool cancelled() const { return cancel_ && cancel_->load(); }

    // The workers a file converted in this slot may start: an even share of them all.
    unsigned share(unsigned slot) const {
        return jobs_ == 0 ? 0 : jobs_ / concurrent_ + (slot < jobs_ % concurrent_ ? 1 : 0);
    }

    void start(std::size_t index, const BatchOutcomeCallback& outcome) {
        const unsigned slot = static_cast<unsigned>(
            std::find(slotBusy_.begin(), slotBusy_.end(), false) - slotBusy_.begin());
        const ConversionRequest& request = requests_[index];
        // Told to stop if the batch dies, as by a stop signal.
        std::optional<ChildProcess> process = ChildProcess::start(
            {.deathSignal = SIGTERM, .channel = ChildChannel::Pipe}, [&](int channel) {
                ConversionRequest own = request;
                own.jobs = share(slot);
                convertInThisProcess(own, channel, cancel_);
            });
        if (!process) {
            report({index, false, false, 0, 0,
                    inputFailure("convert", request.input,
                                 std::string("cannot start a process for it: ") +
                                     std::strerror(errno))},
                   outcome);
            doneWeight_ += weights_[index];
            return;
        }
        slotBusy_[slot] = true;
        running_.push_back({.process = std::move(*process), .index = index, .slot = slot});
    }

    // Reads what the files' processes have said, waiting a fifth of a second at most so that
    // the cancel flag is seen.
    void collect() {
        ChildPoll poll;
        for (const RunningFile& file : running_)
            poll.watch(file.process);
        if (poll.wait(ChildPoll::Wait::OneCheck) != ChildPoll::Outcome::Ready)
            return; // nothing yet, or a signal: the loop looks at the flag
        std::size_t i = 0;
        for (RunningFile& file : running_)
            if (poll.ready(i++))
                receive(file);
    }

    void receive(RunningFile& file) {
        char buffer[4096];
        const ssize_t got = ::read(file.process.channel(), buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (got <= 0) {
            file.process.closeChannel(); // the process has ended: finish() reaps it
            return;
        }
        file.received.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = file.received.find('\n')) != std::string::npos;) {
            const std::string line = file.received.substr(0, end);
            file.received.erase(0, end + 1);
            const std::size_t space = line.find(' ');
            const std::string kind = line.substr(0, space);
            const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
            if (kind == "progress")
                file.fraction = std::clamp(std::strtod(rest.c_str(), nullptr), 0.0, 1.0);
            else if (kind == "done") {
                char* limited = nullptr;
                const std::uint64_t frames = std::strtoull(rest.c_str(), &limited, 10);
                file.outcome =
                    BatchFileOutcome{.index = file.index,
                                     .converted = true,
                                     .frames = frames,
                                     .failure = {},
                                     .limitedSamples = std::strtoull(limited, &limited, 10),
                                     .loudness = loudnessOfWords(limited)};
            } else if (kind == "cancelled")
                file.outcome =
                    BatchFileOutcome{.index = file.index, .cancelled = true, .failure = rest};
            else if (kind == "failed")
                file.outcome = BatchFileOutcome{.index = file.index, .failure = rest};
        }
    }

    void finish(RunningFile& file, const BatchOutcomeCallback& outcome) {
        const ChildEnd end = file.process.wait();
        slotBusy_[file.slot] = false;
        doneWeight_ += weights_[file.index];
        const ConversionRequest& request = requests_[file.index];
        if (!file.outcome) {
            // Ended by the stop signal the batch sent, with no handler of its own; or crashed.
            const bool stopped = end.killingSignal() == SIGTERM && cancelled();
            file.outcome = BatchFileOutcome{
                .index = file.index,
                .cancelled = stopped,
                .failure = stopped ? outputFailure(request.output, "the conversion was cancelled")
                                   : inputFailure("convert", request.input, howItEnded(end))};
        }
        if (file.outcome->converted)
            file.outcome->seconds =
                static_cast<double>(file.outcome->frames) / request.format.sampleRate;
        report(*file.outcome, outcome);
    }

    void report(const BatchFileOutcome& result, const BatchOutcomeCallback& outcome) {
        ++(result.converted ? summary_.converted : summary_.failed);
        if (outcome)
            outcome(result);
    }

    double doneWeight() const {
        double done = doneWeight_;
        for (const RunningFile& file : running_)
            done += weights_[file.index] * file.fraction;
        return done;
    }

    const std::vector<ConversionRequest>& requests_;
    unsigned jobs_;
    unsigned concurrent_;
    const std::atomic<bool>* cancel_;
    std::vector<bool> slotBusy_;
    std::vector<double> weights_;
    double totalWeight_ = 0;
    double doneWeight_ = 0;
    std::vector<RunningFile> running_;
    BatchSummary summary_;
};

} // namespace

namespace {

// The requests with their lexicon, when all have the same one, loaded here once for all:
// a FIFO or a pipe (--lexicon <(...)) gives its entries to the first reader only. Nothing
// when the cancel flag is set while it loads.
std::optional<std::vector<ConversionRequest>>
withSharedLexicon(std::vector<ConversionRequest> requests, const std::atomic<bool>* cancel) {
    const std::vector<std::filesystem::path>& files = requests.front().controls.lexicons;
    const bool shared = std::all_of(requests.begin(), requests.end(), [&](const auto& request) {
        return request.controls.lexicons == files && !request.lexicon;
    });
    if (!shared || files.empty())
        return requests;
    std::shared_ptr<const Lexicon> lexicon;
    try {
        lexicon = std::make_shared<const Lexicon>(Lexicon::load(files, [cancel] {
            if (cancel && cancel->load())
                throw ConversionCancelled("the lexicon's loading was cancelled");
        }));
    } catch (const ConversionCancelled&) {
        return std::nullopt;
    }
    for (ConversionRequest& request : requests)
        request.lexicon = lexicon;
    return requests;
}

} // namespace

BatchSummary convertTextFiles(const std::vector<ConversionRequest>& requests, unsigned jobs,
                              const ProgressCallback& progress, const BatchOutcomeCallback& outcome,
                              const std::atomic<bool>* cancel) {
    if (requests.empty())
        return {};
    const auto shared = withSharedLexicon(requests, cancel);
    if (!shared)
        return {.notStarted = requests.size(), .cancelled = true};
    return Batch(*shared, std::min(jobs, maximumJobs()), cancel).run(progress, outcome);
}

} // namespace kestrova::speech
