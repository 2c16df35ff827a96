#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <vector>

namespace kestrova::test {

// How a program's surroundings differ from this process's.
struct ProgramSetup {
    // Variables set, or removed where the value is nullopt.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    bool standardErrorClosed = false;    // a pipe whose reader has gone: writes fail with EPIPE
    std::optional<rlim_t> fileSizeBytes; // RLIMIT_FSIZE, with SIGXFSZ ignored
    bool withoutUnnamedFiles = false;    // O_TMPFILE refused, as refuseUnnamedFiles()
    int standardOutput = -1;             // given as standard output instead of a pipe read here
};

struct Outcome {
    int status = 0; // as waitpid gives it
    std::string standardOutput;
    std::string standardError;
    long peakKib = 0; // the largest resident size of the process or a child it waited for
    bool timedOut = false;

    bool exited() const { return WIFEXITED(status); }
    // -1 when the process did not exit (a signal ended it).
    int exitStatus() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

// A program started in a folder with standard input on /dev/null, its standard output and
// standard error read here. Killed and reaped if it still runs when this goes.
class RunningProgram {
public:
    RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& folder, const ProgramSetup& setup = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t pid() const { return pid_; }

    // True once the process has ended (it is then reaped).
    bool ended();

    // Waits for the end; a process still running at the timeout is killed and reported so.
    Outcome wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));

    // Polls until condition holds or the process ends; true if the condition held.
    template <typename Condition>
    bool waitFor(Condition condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition())
                return true;
            if (ended())
                return condition();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

private:
    void readOutputs();

    pid_t pid_ = -1;
    int outputFd_ = -1;
    int errorFd_ = -1;
    bool done_ = false;
    Outcome outcome_;
};

// Runs a program to its end.
Outcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& folder, const ProgramSetup& setup = {});

// The lines a Python script prints about file (its sys.argv[1]), run in the file's folder with
// UTF-8 output: an independent reader of what the program wrote.
std::vector<std::string> pythonLines(const std::string& script, const std::filesystem::path& file);

// pandoc's rendering of the Markdown text into folder/name, standalone: "html", "epub" (EPUB
// 3), "epub2" and the other formats pandoc writes. A book from a producer that is not us.
// Throws std::runtime_error with pandoc's standard error when it fails.
void writePandocBook(const std::filesystem::path& folder, std::string_view markdown,
                     const std::string& to, const std::string& name);

} // namespace kestrova::test
