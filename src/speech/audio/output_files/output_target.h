#pragma once

#include "speech/audio/output_files/pending_file.h"
#include "speech/audio_format.h"
#include "speech/base/unique_fd.h"

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::speech {

// Where a conversion's sound goes, settled before anything is rendered:
// - nothing at the path: a new file, which appears only when complete;
// - a regular file: replaced only when the new one is complete, keeping its permission bits,
//   and its owner and group where this process may set them;
// - a symbolic link: the file it resolves to, replaced beside itself; the link stays. A
//   dangling link is refused;
// - a character device (/dev/null): written into as it stands;
// - a FIFO: the sound streamed into it, in a container that can be streamed;
// - anything else (a folder, a socket, a block device): refused.
// Nothing that is not a regular file is ever replaced, removed or renamed over.
class OutputTarget {
public:
    struct Options {
        bool replaceExisting = true;
        bool standardOutput = false; // path then only names it in messages
        // None: by the path's ending, or for a stream one of the containers that can be
        // streamed. A stream that cannot take a given container is refused.
        std::optional<Container> container;
        // Checked while waiting for a FIFO's reader.
        const std::atomic<bool>* cancel = nullptr;
        // False for a file read only whole, such as a subtitle file: a FIFO is refused.
        bool fifoAllowed = true;
        // What the file is, in messages.
        std::string fileKind = "wave file";
    };

    OutputTarget(const std::filesystem::path& path, const Options& options);

    // What the constructor would refuse that can be known without creating or opening
    // anything: a file already there without replaceExisting, a dangling link, a folder, a
    // missing folder. Throws the same FileError.
    static void checkBeforehand(const std::filesystem::path& path, const Options& options);

    // Whether a FIFO is at the path (through links): the sound is streamed into it.
    static bool isFifo(const std::filesystem::path& path);

    int fd() const { return pending_ ? pending_->fd() : stream_.get(); }
    Container container() const { return container_; }
    // True when the sound goes into a new regular file rather than into a device or stream.
    bool isFile() const { return pending_.has_value(); }

    // Gives a new file its name (flushed to disk first when asked); nothing for a device or
    // stream, which already has every byte.
    void commit(bool replaceExisting, bool syncToDisk);
    // A complete new file set aside to be named with others (PendingFile::park), which then
    // names it; a device or stream, which has every byte, is closed.
    void park(bool syncToDisk);
    PendingFile* pendingFile() { return pending_ ? &*pending_ : nullptr; }

private:
    [[noreturn]] void fail(const std::string& reason) const;
    void openDevice(const std::filesystem::path& path, std::optional<Container> chosen);
    void openFifo(const std::filesystem::path& path, std::optional<Container> chosen,
                  const std::atomic<bool>* cancel);
    void useStandardOutput(std::optional<Container> chosen);
    void settleStreamContainer(std::optional<Container> chosen, const char* what);

    std::filesystem::path path_;
    std::string fileKind_;
    Container container_ = Container::Wave;
    std::optional<PendingFile> pending_;
    UniqueFd stream_;
};

} // namespace kestrova::speech
