#pragma once

#include "speech/base/unique_fd.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kestrova::speech {

// The rendered samples of a whole conversion, kept on disk between the pass that measures
// them and the pass that writes them: memory stays bounded however long the text. An
// unnamed file (O_TMPFILE, or a name removed at once where the file system has none), so
// nothing is left whatever ends the process. Every write is checked: a full disk fails
// naming the output the samples are for and the folder of the spool.
class SampleSpool {
public:
    // folder: where the spool goes; output and fileKind name the sound file in messages.
    SampleSpool(const std::filesystem::path& folder, std::filesystem::path output,
                std::string fileKind);

    void write(std::span<const std::int16_t> samples);
    // Reads from sample `from` into samples (after the last write), as many as there are;
    // returns how many.
    std::size_t read(std::uint64_t from, std::span<std::int16_t> samples);
    std::uint64_t samples() const { return written_ + buffer_.size(); }

private:
    [[noreturn]] void fail(int error) const;
    void flush();

    std::filesystem::path folder_;
    std::filesystem::path output_;
    std::string fileKind_;
    UniqueFd file_;
    std::vector<std::int16_t> buffer_;
    std::uint64_t written_ = 0; // samples in the file
};

// Where a spool goes: $TMPDIR when set, else beside the output file, else /tmp.
std::filesystem::path spoolFolder(const std::filesystem::path& output, bool outputIsFile);

} // namespace kestrova::speech
