#include "support/running_program.h"

#include "support/process_support.h"
#include "support/test_support.h"

#include <csignal>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

extern char** environ;

namespace kestrova::test {
namespace {

// This process's environment with the setup's changes, as execve takes it.
std::vector<std::string> environmentFor(const ProgramSetup& setup) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : setup.environment) {
        if (value)
            variables[name] = *value;
        else
            variables.erase(name);
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : variables)
        entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

void append(int fd, std::string& text) {
    if (fd < 0)
        return;
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
}

} // namespace

RunningProgram::RunningProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::filesystem::path& folder, const ProgramSetup& setup) {
    int outputPipe[2];
    int errorPipe[2];
    if (::pipe2(outputPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        ::close(outputPipe[0]);
        ::close(outputPipe[1]);
        throw std::runtime_error("pipe2 failed");
    }
    if (setup.standardErrorClosed) {
        ::close(errorPipe[0]);
        errorPipe[0] = -1;
    }
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = pointersTo(all);
    std::vector<std::string> environment = environmentFor(setup);
    std::vector<char*> envp = pointersTo(environment);
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        const int quiet = ::open("/dev/null", O_RDONLY);
        if (quiet < 0 || ::dup2(quiet, 0) < 0 ||
            ::dup2(setup.standardOutput >= 0 ? setup.standardOutput : outputPipe[1], 1) < 0 ||
            ::dup2(errorPipe[1], 2) < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        if (setup.fileSizeBytes) {
            ::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            const rlimit limit{*setup.fileSizeBytes, *setup.fileSizeBytes};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(127);
        }
        if (setup.withoutUnnamedFiles && !refuseUnnamedFiles())
            ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outputPipe[1]);
    ::close(errorPipe[1]);
    outputFd_ = outputPipe[0];
    errorFd_ = errorPipe[0];
    for (const int fd : {outputFd_, errorFd_})
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
    if (pid_ < 0) {
        ::close(outputFd_);
        if (errorFd_ >= 0)
            ::close(errorFd_);
        throw std::runtime_error("fork failed");
    }
}

RunningProgram::~RunningProgram() {
    if (!done_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(outputFd_);
    if (errorFd_ >= 0)
        ::close(errorFd_);
}

bool RunningProgram::ended() {
    if (!done_) {
        rusage usage{};
        if (::wait4(pid_, &outcome_.status, WNOHANG, &usage) == pid_) {
            done_ = true;
            outcome_.peakKib = usage.ru_maxrss;
        }
    }
    readOutputs();
    return done_;
}

Outcome RunningProgram::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ended()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            outcome_.timedOut = true;
            ::kill(pid_, SIGKILL);
        }
        pollfd watched[2] = {{outputFd_, POLLIN, 0}, {errorFd_, POLLIN, 0}};
        ::poll(watched, 2, 10);
    }
    readOutputs();
    return outcome_;
}

void RunningProgram::readOutputs() {
    append(outputFd_, outcome_.standardOutput);
    append(errorFd_, outcome_.standardError);
}

Outcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& folder, const ProgramSetup& setup) {
    return RunningProgram(program, arguments, folder, setup).wait();
}

std::vector<std::string> pythonLines(const std::string& script, const std::filesystem::path& file) {
    ProgramSetup setup;
    setup.environment = {{"PYTHONIOENCODING", "utf-8"}};
    const Outcome read =
        runProgram("/usr/bin/python3", {"-c", script, file.string()}, file.parent_path(), setup);
    if (read.exitStatus() != 0)
        throw std::runtime_error("python3 on " + file.string() + ": " + read.standardError);
    std::vector<std::string> lines;
    std::istringstream output(read.standardOutput);
    for (std::string line; std::getline(output, line);)
        lines.push_back(line);
    return lines;
}

void writePandocBook(const std::filesystem::path& folder, std::string_view markdown,
                     const std::string& to, const std::string& name) {
    const std::filesystem::path source = folder / ".pandoc-source.md";
    writeBytes(source, markdown);
    const Outcome made = runProgram(
        "/usr/bin/pandoc", {"-s", "-f", "markdown", "-t", to, "-o", name, source.string()}, folder);
    std::filesystem::remove(source);
    if (made.exitStatus() != 0)
        throw std::runtime_error("pandoc -t " + to + " failed: " + made.standardError);
}

} // namespace kestrova::test
