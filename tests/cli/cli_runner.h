#pragma once

// Runs the built command-line converter as a user would.

#include "test_support.h"

#include <algorithm>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kestrova::cli {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1; // the exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// How the converter's surroundings differ from the usual: environment variables set, and
// standard error a pipe whose reader has gone.
struct Surroundings {
    std::vector<std::pair<std::string, std::string>> environment;
    bool standardErrorClosed = false;
};

// Runs the converter in the folder with the arguments, stdin empty, capturing both outputs.
inline Outcome runCli(const fs::path& folder, const std::vector<std::string>& arguments,
                      const Surroundings& surroundings = {}) {
    const fs::path outPath = folder / ".cli-stdout";
    const fs::path errPath = folder / ".cli-stderr";
    std::vector<char*> argv;
    std::string program = KESTROVA_CLI_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int orphanedPipe[2];
    if (::pipe2(orphanedPipe, O_CLOEXEC) != 0)
        return {};
    ::close(orphanedPipe[0]); // writes to the other end fail with EPIPE, or raise SIGPIPE
    const pid_t child = ::fork();
    if (child == 0) {
        for (const auto& [name, value] : surroundings.environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = surroundings.standardErrorClosed
                            ? orphanedPipe[1]
                            : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(orphanedPipe[1]);
    Outcome run;
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return run;
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = test::readBytes(outPath);
    if (!surroundings.standardErrorClosed)
        run.err = test::readBytes(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return run;
}

inline std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace kestrova::cli
