#include "speech/engines/command/voice_command_run.h"

#include "speech/base/child_process.h"
#include "speech/base/unique_fd.h"
#include "speech/base/whole_file.h"
#include "speech/engines/command/private_folder.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <string_view>
#include <unistd.h>

namespace kestrova::speech {
namespace {

using Clock = std::chrono::steady_clock;

std::string shellQuoted(const std::string& path) {
    std::string quoted = "'";
    for (const char character : path)
        quoted += character == '\'' ? std::string("'\\''") : std::string(1, character);
    return quoted + "'";
}

// The command line with {text} and {wav} as the quoted paths of files in the folder, made
// with the first of them, and those paths (empty where it names neither).
struct PreparedLine {
    std::string line;
    std::string textFile;
    std::string waveFile;
};

PreparedLine prepared(const std::string& line, std::optional<PrivateFolder>& folder) {
    PreparedLine result;
    for (std::size_t at = 0; at < line.size();) {
        const std::string_view rest = std::string_view(line).substr(at);
        std::string* file = rest.starts_with("{text}")  ? &result.textFile
                            : rest.starts_with("{wav}") ? &result.waveFile
                                                        : nullptr;
        if (!file) {
            result.line += line[at++];
            continue;
        }
        if (!folder)
            folder.emplace();
        if (file->empty())
            *file = folder->file(file == &result.textFile ? "text.txt" : "sound.wav");
        result.line += shellQuoted(*file);
        at += file == &result.textFile ? 6 : 5;
    }
    return result;
}

// A kept folder's files of one run go with the run, however it ends.
struct FilesOfTheRun {
    std::optional<PrivateFolder>& folder;
    ~FilesOfTheRun() {
        if (folder)
            folder->removeFiles();
    }
};

struct PipeEnds {
    UniqueFd read;
    UniqueFd write;
};

PipeEnds openPipe() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw SpeechError(std::string("cannot make a pipe for the voice command: ") +
                          std::strerror(errno));
    return {.read = UniqueFd(ends[0]), .write = UniqueFd(ends[1])};
}

void writeTextFile(const std::string& path, const std::string& text) {
    const UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file || !writeAll(file.get(), text.data(), text.size()).whole())
        throw SpeechError("cannot write the text for the voice command into " + quotedName(path) +
                          ": " + std::strerror(errno));
}

// The last line a command wrote on its standard error that has something on it, its start
// kept up to what a message shows.
class LastLine {
public:
    void add(std::string_view bytes) {
        for (const char character : bytes) {
            if (character == '\n') {
                if (current_.find_first_not_of(" \t\r") != std::string::npos)
                    last_ = std::move(current_);
                current_.clear();
            } else if (current_.size() <= shownErrorBytes) {
                current_ += character;
            }
        }
    }
    // ": LINE", or nothing when it wrote none.
    std::string told() const {
        const std::string& line =
            current_.find_first_not_of(" \t\r") != std::string::npos ? current_ : last_;
        if (line.empty())
            return {};
        const std::size_t end = line.find_last_not_of(" \t\r") + 1;
        return ": " + shownValue(std::string_view(line).substr(0, end), shownErrorBytes);
    }

private:
    std::string current_;
    std::string last_;
};

// A write into the command's input that it has stopped reading gives EPIPE, not SIGPIPE, here
// as in the program's workers.
ssize_t writeWithoutSignal(int fd, std::string_view bytes) {
    sigset_t pipeSignal;
    ::sigemptyset(&pipeSignal);
    ::sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    const int error = errno;
    const timespec now = {.tv_sec = 0, .tv_nsec = 0};
    while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

// One run: the text into the command's input, its output and its standard error read as they
// come, by one poll, until the keeper and every writer of the pipes are gone.
class CommandExchange {
public:
    CommandExchange(ChildProcess keeper, UniqueFd input, UniqueFd output, UniqueFd errors)
        : keeper_(std::move(keeper)), streams_{std::move(input), std::move(output),
                                               std::move(errors)} {}

    ChildEnd run(std::string_view text, Clock::time_point deadline,
                 const std::atomic<bool>* cancel);

    std::string sound;
    LastLine errorLine;
    bool timedOut = false;
    bool cancelled = false;
    bool tooLarge = false;

private:
    enum Stream { Input, Output, Errors, Lifeline };
    void endGroup();
    void readFrom(Stream stream);

    ChildProcess keeper_;
    UniqueFd streams_[3];
    bool ended_ = false;
};

void CommandExchange::endGroup() {
    if (!ended_)
        keeper_.sendSignal(SIGTERM);
    ended_ = true;
}

void CommandExchange::readFrom(Stream stream) {
    char piece[65536];
    const ssize_t got = ::read(stream == Lifeline ? keeper_.channel() : streams_[stream].get(),
                               piece, sizeof piece);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        stream == Lifeline ? keeper_.closeChannel() : streams_[stream].reset();
        return;
    }
    const std::string_view bytes(piece, static_cast<std::size_t>(got));
    if (stream == Errors)
        errorLine.add(bytes);
    if (stream != Output || tooLarge)
        return;
    if (bytes.size() > mostCommandSoundBytes - sound.size()) {
        tooLarge = true;
        endGroup();
        return;
    }
    sound.append(bytes);
}

ChildEnd CommandExchange::run(std::string_view text, Clock::time_point deadline,
                              const std::atomic<bool>* cancel) {
    for (;;) {
        pollfd watched[4] = {{.fd = streams_[Input].get(), .events = POLLOUT, .revents = 0},
                             {.fd = streams_[Output].get(), .events = POLLIN, .revents = 0},
                             {.fd = streams_[Errors].get(), .events = POLLIN, .revents = 0},
                             {.fd = keeper_.channel(), .events = POLLIN, .revents = 0}};
        if (watched[Output].fd < 0 && watched[Errors].fd < 0 && watched[Lifeline].fd < 0)
            return keeper_.wait();
        if (cancel && cancel->load() && !cancelled) {
            cancelled = true;
            endGroup();
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 && !ended_) {
            timedOut = true;
            endGroup();
        }
        const int wait = static_cast<int>(std::clamp<long long>(left.count(), 1, 200));
        if (::poll(watched, 4, wait) < 0 && errno != EINTR)
            throw SpeechError(std::string("waiting for the voice command failed: ") +
                              std::strerror(errno));
        if (watched[Input].revents != 0) {
            const ssize_t written = writeWithoutSignal(streams_[Input].get(), text);
            if (written > 0)
                text.remove_prefix(static_cast<std::size_t>(written));
            if ((written < 0 && errno != EINTR && errno != EAGAIN) || text.empty())
                streams_[Input].reset(); // the end of the text, or a command done reading
        }
        for (const Stream stream : {Output, Errors, Lifeline})
            if (watched[stream].revents != 0)
                readFrom(stream);
    }
}

std::string readSoundFile(const VoiceCommand& command, const std::string& path,
                          const std::string& errorLine) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        throw SpeechError(commandInWords(command) + " wrote no sound into {wav}" + errorLine);
    return readWholeFile(file.get(), {.maxBytes = mostCommandSoundBytes,
                                      .cancel = nullptr,
                                      .failure =
                                          [&](const std::string& reason) {
                                              return commandInWords(command) +
                                                     " wrote a sound file that " +
                                                     "cannot be read: " + reason;
                                          },
                                      .tooLarge = "it is larger than 1 GiB"});
}

// The failure of a run that did not end well, worded; empty for one that did.
std::string runFailure(const VoiceCommand& command, const CommandExchange& run,
                       const ChildEnd& end) {
    const std::string named = commandInWords(command);
    const std::string errorLine = run.errorLine.told();
    if (run.timedOut)
        return named + " did not finish within " + std::to_string(command.timeoutSeconds) +
               " s and was ended" + errorLine;
    if (run.tooLarge)
        return named + " wrote more than 1 GiB of sound";
    if (end.killingSignal() != 0)
        return named + " was killed by signal " + ::strsignal(end.killingSignal()) + errorLine;
    if (!end.exitedWith(0))
        return named + " failed with exit status " + std::to_string(end.exitStatus()) + errorLine;
    return {};
}

} // namespace

std::string commandInWords(const VoiceCommand& command) {
    return "the voice command " + quotedValue(command.line, shownErrorBytes);
}

std::string runVoiceCommand(const VoiceCommand& command, const std::string& text,
                            const std::atomic<bool>* cancel, std::optional<PrivateFolder>* kept) {
    // Made only for a command that names its files.
    std::optional<PrivateFolder> own;
    std::optional<PrivateFolder>& folder = kept ? *kept : own;
    const PreparedLine line = prepared(command.line, folder);
    const FilesOfTheRun removed{.folder = folder};
    if (!line.textFile.empty())
        writeTextFile(line.textFile, text);
    PipeEnds input = openPipe();
    PipeEnds output = openPipe();
    PipeEnds errors = openPipe();
    if (!line.textFile.empty())
        input.write.reset(); // the command's input ends at once
    std::optional<ChildProcess> keeper = ChildProcess::startCommand(
        {.line = line.line,
         .input = input.read.get(),
         .output = output.write.get(),
         .errors = errors.write.get(),
         .removedWhenEnded = folder ? folder->removed() : std::vector<std::string>{}});
    if (!keeper)
        throw SpeechError("cannot start " + commandInWords(command) + ": " + std::strerror(errno));
    if (input.write)
        ::fcntl(input.write.get(), F_SETFL, O_NONBLOCK);
    CommandExchange run(std::move(*keeper), std::move(input.write), std::move(output.read),
                        std::move(errors.read));
    input.read.reset();
    output.write.reset();
    errors.write.reset();
    const ChildEnd end =
        run.run(line.textFile.empty() ? std::string_view(text) : std::string_view(),
                Clock::now() + std::chrono::seconds(command.timeoutSeconds), cancel);
    if (run.cancelled)
        throw ConversionCancelled("the conversion was cancelled");
    if (const std::string failure = runFailure(command, run, end); !failure.empty())
        throw SpeechError(failure);
    std::string sound = line.waveFile.empty()
                            ? std::move(run.sound)
                            : readSoundFile(command, line.waveFile, run.errorLine.told());
    if (sound.empty())
        throw SpeechError(commandInWords(command) + " wrote no sound" + run.errorLine.told());
    return sound;
}

} // namespace kestrova::speech
