#pragma once

#include "speech/base/unique_fd.h"
#include "speech/render/render_pipeline.h"
#include "speech/render/render_task.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::speech {

// The rendered chunks of a conversion kept in a folder of their own, one file each named by
// its key (ChunkKey), so that the same conversion started again after a failure, a stop or a
// crash takes them rather than rendering them again. They are a cache: a file is written under
// a temporary name and renamed once whole, with no flush to disk, and one that is short or
// damaged (a power cut) fails its digest on reading and is rendered again.
class KeptChunks {
public:
    // Opens the folder if it is there; it is made with the first chunk kept. Throws
    // SpeechError when it is a symbolic link, not a folder, or not this user's alone.
    explicit KeptChunks(std::filesystem::path folder);

    // The chunk kept under key, with what it carries from its task; none when there is no
    // such file or it is not whole.
    std::optional<RenderedChunk> take(const std::string& key, const RenderTask& task);
    // Throws SpeechError naming the folder when the file cannot be written.
    void keep(const std::string& key, const RenderedChunk& chunk);
    // The folder and its files, once the output they were for is complete.
    void remove();

    std::size_t taken() const { return taken_; }
    const std::filesystem::path& folder() const { return folder_; }

    // The folder of an output's chunks: hidden, beside it, named after it.
    static std::filesystem::path folderFor(const std::filesystem::path& output);

private:
    void open(bool create);
    [[noreturn]] void fail(const std::string& reason) const;

    std::filesystem::path folder_;
    UniqueFd descriptor_;
    std::size_t taken_ = 0;
};

} // namespace kestrova::speech
