#pragma once

#include "speech/converter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {

// How one file of a batch ended.
struct BatchFileOutcome {
    std::size_t index = 0; // in the list of requests
    bool converted = false;
    bool cancelled = false;
    std::uint64_t frames = 0;
    double seconds = 0;
    std::string failure;              // one line naming the file and the reason, when not converted
    std::uint64_t limitedSamples = 0; // as in ConversionResult
    std::optional<LoudnessReport> loudness = std::nullopt;
};

struct BatchSummary {
    std::size_t converted = 0;
    std::size_t failed = 0;     // cancelled ones included
    std::size_t notStarted = 0; // left when the batch was cancelled
    bool cancelled = false;
};

// Called on the calling thread as each file ends.
using BatchOutcomeCallback = std::function<void(const BatchFileOutcome&)>;

// Converts many text files, several at once, each in a process of its own forked for it, so
// that a failure or crash takes down one file alone. `jobs` worker processes are shared out
// among the files converted at once (each request's own `jobs` is replaced by its share): up
// to `jobs` files at a time, one worker each, and more workers each when there are fewer
// files; 0 converts one file at a time, rendering in its process. Every file is the same as
// a conversion of it alone. Progress is of the whole batch, weighted by the text files'
// sizes. A set cancel flag stops starting files and sends SIGTERM to those running, which
// end as a conversion cancelled by its flag when the program's handler of SIGTERM sets it
// (the handler is inherited), and by the signal otherwise; either way nothing partial is
// left. A file's process also gets SIGTERM if this one dies. Call it from a program with one
// thread: the processes are forked from it. A lexicon all the files share is loaded once,
// before any starts; one that cannot be loaded throws as Lexicon::load does, and the cancel
// flag set while it loads ends the batch with no file started.
BatchSummary convertTextFiles(const std::vector<ConversionRequest>& requests, unsigned jobs,
                              const ProgressCallback& progress, const BatchOutcomeCallback& outcome,
                              const std::atomic<bool>* cancel = nullptr);

} // namespace kestrova::speech
