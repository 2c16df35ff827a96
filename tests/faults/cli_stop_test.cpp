// Faults around a real conversion by the real kestrova-wav-cli: the disk filling up, folders
// that refuse the file, a text file that is missing, unreadable or taken away, stop signals
// and engines killed in the middle of the text. After each: the exit status, one line on
// standard error naming the file, nothing new in the folder (a file already at the target
// byte for byte as it was), the text file as it was, and no process left running.

#include "cli_fault_cases.h"
#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>

namespace kestrova {
namespace {

// A worker of the converter in the middle of a chunk: a child with a child of its own, the
// process that renders the chunk.
struct BusyWorker {
    pid_t worker = -1;
    pid_t chunkProcess = -1;
};

std::optional<BusyWorker> busyWorker(pid_t converter) {
    for (const pid_t worker : test::childrenOf(converter))
        if (const auto chunk = test::childrenOf(worker); !chunk.empty())
            return BusyWorker{worker, chunk.front()};
    return std::nullopt;
}

// Sends the signal and waits for the end: a stop is honoured at once (within a second, what
// a hang is not), whatever the program was doing.
Outcome stopAndWait(RunningProgram& cli, int signal) {
    ::kill(cli.pid(), signal);
    const auto signalled = std::chrono::steady_clock::now();
    Outcome outcome = cli.wait(30s);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1s);
    return outcome;
}

struct StopCase {
    const char* name;
    int signal;
    bool outputThere;
    bool engineHung; // the chunk's process stopped (SIGSTOP) before the signal
};

void PrintTo(const StopCase& entry, std::ostream* out) {
    *out << entry.name;
}

// The stop tests of one process each, a suite of their own: its fixture is this file's.
class CliStop : public CliFault {};

class StopSignal : public CliFault, public ::testing::WithParamInterface<StopCase> {};

// SIGINT, SIGTERM and SIGHUP in the middle of the rendering, even with an engine that hangs:
// the status says which signal, the message names the output, nothing is left. The workers
// are told to stop: the converter ends within a second, not after the chunk at hand.
TEST_P(StopSignal, StopsCleanlyInTheMiddle) {
    const StopCase& c = GetParam();
    test::writeBytes(at("long.txt"), sentences(400000));
    if (c.outputThere)
        test::writeBytes(at("long.wav"), "an older file");
    const Snapshot before = test::snapshot(scratch.path());

    RunningProgram cli(cliPath, {"convert", "-q", "-e", "Flite slt", "long.txt"}, scratch.path());
    std::optional<BusyWorker> busy;
    ASSERT_TRUE(cli.waitFor([&] { return (busy = busyWorker(cli.pid())).has_value(); }));
    if (c.engineHung) {
        // Well into the rendering, long past its first steps: a hang, not a start that
        // never happened.
        ASSERT_TRUE(cli.waitFor([&] { return test::cpuTicks(busy->chunkProcess) >= 3; }));
        ::kill(busy->chunkProcess, SIGSTOP);
    }
    const Outcome outcome = stopAndWait(cli, c.signal);
    expectCleanFailure(outcome, 128 + c.signal, "long.wav", "the conversion was cancelled", before);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal,
                         test::sweep(StopCase{"Interrupt", SIGINT, false, false},
                                     StopCase{"InterruptOverAFile", SIGINT, true, false},
                                     StopCase{"Terminate", SIGTERM, false, false},
                                     StopCase{"TerminateOverAFile", SIGTERM, true, false},
                                     StopCase{"TerminateWithTheEngineHung", SIGTERM, true, true},
                                     StopCase{"InterruptWithTheEngineHung", SIGINT, false, true},
                                     StopCase{"HangUp", SIGHUP, false, false},
                                     StopCase{"HangUpOverAFile", SIGHUP, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// An M4B file keeps its encoded sound in the file while rendering: a stop in the middle
// leaves nothing, as for any other file.
TEST_F(CliStop, StopsAnM4bInTheMiddle) {
    test::writeBytes(at("long.txt"), sentences(400000));
    const Snapshot before = test::snapshot(scratch.path());
    RunningProgram cli(cliPath, {"convert", "-q", "-e", "Flite slt", "--type", "m4b", "long.txt"},
                       scratch.path());
    ASSERT_TRUE(cli.waitFor([&] {
        const auto unfinished = test::unfinishedOutput(cli.pid(), scratch.path());
        return unfinished && *unfinished > 0;
    }));
    const Outcome outcome = stopAndWait(cli, SIGTERM);
    expectCleanFailure(outcome, 128 + SIGTERM, "long.m4b", "the conversion was cancelled", before);
}

// Whether a process holds a file open.
bool holdsOpen(pid_t pid, const fs::path& file) {
    std::error_code error;
    const fs::path wanted = fs::canonical(file, error);
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        if (fs::read_symlink(entry.path(), error) == wanted)
            return true;
    return false;
}

struct LexiconStopCase {
    const char* name;
    int signal;
    bool fifoWithoutWriter; // else a list of 100,000 patterns, which takes seconds to load
};

void PrintTo(const LexiconStopCase& entry, std::ostream* out) {
    *out << entry.name;
}

class StopWhileLoadingLexicon : public CliFault,
                                public ::testing::WithParamInterface<LexiconStopCase> {};

// A stop signal while the lexicon loads, or while its FIFO waits for a writer, ends the
// converter as one in the rendering does, not after the loading or never.
TEST_P(StopWhileLoadingLexicon, StopsAtOnce) {
    const LexiconStopCase& c = GetParam();
    test::writeBytes(at("t.txt"), "Hello there.\n");
    if (c.fifoWithoutWriter) {
        ASSERT_EQ(::mkfifo(at("words.txt").c_str(), 0600), 0);
    } else {
        std::string patterns;
        for (int i = 0; i < 100000; ++i)
            patterns += "/w" + std::to_string(i) + "x/ = word " + std::to_string(i) + "\n";
        test::writeBytes(at("words.txt"), patterns);
    }
    const Snapshot before = test::snapshot(scratch.path());

    RunningProgram cli(cliPath, {"convert", "-q", "--lexicon", "words.txt", "-o", "t.wav", "t.txt"},
                       scratch.path());
    ASSERT_TRUE(cli.waitFor([&] { return holdsOpen(cli.pid(), at("words.txt")); }));
    const Outcome outcome = stopAndWait(cli, c.signal);
    expectCleanFailure(outcome, 128 + c.signal, "t.wav", "the conversion was cancelled", before);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopWhileLoadingLexicon,
                         test::sweep(LexiconStopCase{"InterruptLongList", SIGINT, false},
                                     LexiconStopCase{"TerminateLongList", SIGTERM, false},
                                     LexiconStopCase{"InterruptFifoWithoutWriter", SIGINT, true},
                                     LexiconStopCase{"TerminateFifoWithoutWriter", SIGTERM, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A pipe, or a FIFO, whose reader holds it open and never reads.
struct StalledReader {
    int readEnd = -1;
    int writeEnd = -1; // the test's own: full when it cannot take a byte
    ~StalledReader() {
        for (const int fd : {readEnd, writeEnd})
            if (fd >= 0)
                ::close(fd);
    }
    bool full() const {
        pollfd end{.fd = writeEnd, .events = POLLOUT, .revents = 0};
        return ::poll(&end, 1, 0) == 0;
    }
};

// Where the stalled sound goes: a FIFO of that name, or standard output.
struct StalledCase {
    const char* name;
    const char* fifo; // null: standard output
};

void PrintTo(const StalledCase& entry, std::ostream* out) {
    *out << entry.name;
}

class StopWhileTheReaderStalls : public CliFault,
                                 public ::testing::WithParamInterface<StalledCase> {};

// SIGTERM while the sound's write waits on a reader that stopped reading, into standard output
// or a FIFO: the converter ends as cancelled, not when (or if) the reader reads. The sentence's
// speech is several times what the pipe holds: once it is full the converter is writing.
// Every one of them is sent AU, a FIFO named for M4B (which cannot stream) too, and the
// message names the AU file.
TEST_P(StopWhileTheReaderStalls, EndsAsCancelled) {
    const char* const fifo = GetParam().fifo;
    test::writeBytes(at("t.txt"), "This one sentence is spoken for a good deal longer than the "
                                  "pipe it goes into can hold.\n");
    StalledReader reader;
    if (fifo != nullptr) {
        ASSERT_EQ(::mkfifo(at(fifo).c_str(), 0600), 0);
        reader.readEnd = ::open(at(fifo).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        reader.writeEnd = ::open(at(fifo).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    } else {
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        reader.readEnd = ends[0];
        reader.writeEnd = ends[1];
    }
    ASSERT_GE(reader.readEnd, 0);
    ASSERT_GE(reader.writeEnd, 0);
    const Snapshot before = test::snapshot(scratch.path());

    ProgramSetup setup;
    if (fifo == nullptr)
        setup.standardOutput = reader.writeEnd;
    RunningProgram cli(cliPath, {"convert", "-q", "-o", fifo != nullptr ? fifo : "-", "t.txt"},
                       scratch.path(), setup);
    ASSERT_TRUE(cli.waitFor([&] { return reader.full(); }));
    ::kill(cli.pid(), SIGTERM);
    // A bound for a hang, not a measure of speed.
    const Outcome outcome = cli.wait(5s);
    expectCleanFailure(outcome, 128 + SIGTERM, fifo != nullptr ? fifo : "standard output",
                       "the conversion was cancelled", before);
    EXPECT_TRUE(outcome.standardError.starts_with("kestrova-wav-cli: cannot write the AU file "))
        << outcome.standardError;
    char magic[4] = {};
    ASSERT_EQ(::read(reader.readEnd, magic, sizeof magic), 4);
    EXPECT_EQ(std::string(magic, sizeof magic), ".snd");
}

INSTANTIATE_TEST_SUITE_P(Outputs, StopWhileTheReaderStalls,
                         test::sweep(StalledCase{"StandardOutput", nullptr},
                                     StalledCase{"Fifo", "sound.au"},
                                     StalledCase{"FifoNamedForM4b", "sound.m4b"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Whether a process has a handler for the signal (its status's SigCgt mask).
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigCgt:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
    return false;
}

// A document that takes seconds to read before any sound: 30 MB of Markdown paragraphs (parsed
// a section at a time, some 6 s of reading in all), or an HTML page of 8 MiB (one tree, which
// libxml2 builds in seconds).
std::string slowDocument(bool html) {
    std::string text = html ? "<html><body>\n" : "";
    while (text.size() < (html ? 8u << 20 : 30'000'000u))
        text += html ? "<p>Word after word, <b>the plain text</b> of a long book goes on.</p>\n"
                     : "Word after word, the plain text of a long book goes on and on " +
                           std::to_string(text.size()) + ".\n\n";
    return html ? text + "</body></html>\n" : text;
}

class StopWhileReading : public CliFault, public ::testing::WithParamInterface<bool> {};

// SIGTERM while such a document is read: the converter ends within half a second, not when the
// reading is done, and the reading held one section's tree, not the whole file's.
TEST_P(StopWhileReading, EndsWithinHalfASecond) {
    const std::string input = GetParam() ? "large.html" : "large.md";
    test::writeBytes(at(input), slowDocument(GetParam()));
    const Snapshot before = test::snapshot(scratch.path());
    RunningProgram cli(cliPath, {"convert", "-q", "-o", "large.wav", input}, scratch.path());
    ASSERT_TRUE(cli.waitFor([&] { return catches(cli.pid(), SIGTERM); }));
    std::this_thread::sleep_for(500ms); // well into the reading
    ::kill(cli.pid(), SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    const Outcome outcome = cli.wait(30s);
    // The page's tree as far as it was built is freed first: some 0.3 s more. Under the
    // sanitizers a section's parse, which cmark cannot stop, takes up to three times as long;
    // the whole reading takes far longer still.
    const auto allowed = (GetParam() ? 1000ms : 500ms) * (test::sanitizedBuild ? 3 : 1);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, allowed);
    expectCleanFailure(outcome, 128 + SIGTERM, "large.wav", "the conversion was cancelled", before);
    if (!test::sanitizedBuild && !GetParam()) {
        EXPECT_LT(outcome.peakKib, 512 << 10);
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, StopWhileReading, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "HtmlPage" : "MarkdownFile");
});

// An engine that dies in the middle of the text, as a crash would end it: the conversion
// fails naming the text file, and nothing is left.
enum class Killed { Worker, ChunkProcess };

class EngineKilled : public CliFault, public ::testing::WithParamInterface<Killed> {};

TEST_P(EngineKilled, FailsNamingTheTextFile) {
    test::writeBytes(at("long.txt"), sentences(200000));
    test::writeBytes(at("long.wav"), "an older file");
    const Snapshot before = test::snapshot(scratch.path());

    RunningProgram cli(cliPath, {"convert", "-q", "-e", "Flite slt", "long.txt"}, scratch.path());
    std::optional<BusyWorker> busy;
    ASSERT_TRUE(cli.waitFor([&] { return (busy = busyWorker(cli.pid())).has_value(); }));
    ::kill(GetParam() == Killed::Worker ? busy->worker : busy->chunkProcess, SIGKILL);
    const Outcome outcome = cli.wait(30s);
    expectCleanFailure(outcome, 1, "long.txt", "killed by signal", before);
}

INSTANTIATE_TEST_SUITE_P(Processes, EngineKilled, test::sweep(Killed::Worker, Killed::ChunkProcess),
                         [](const auto& info) {
                             return info.param == Killed::Worker ? "Worker" : "ChunkProcess";
                         });

} // namespace
} // namespace kestrova
