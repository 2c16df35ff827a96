#pragma once

#include "speech/base/unique_fd.h"
#include "speech/render/kept_sound.h"
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
// damaged (a power cut) fails its digest on reading and is rendered again. Where the output
// is a wave file of the chunks' samples as they are, the chunks are kept in it instead
// (KeptSound), and their samples are written once.
class KeptChunks {
public:
    // Opens the folder if it is there; it is made with the first chunk kept. Throws
    // SpeechError when it is a symbolic link, not a folder, or not this user's alone.
    explicit KeptChunks(std::filesystem::path folder);

    // The chunk kept under key, with what it carries from its task; none when there is no
    // such file or it is not whole.
    std::optional<RenderedChunk> take(const std::string& key, const RenderTask& task);
    // Keeps the chunk under key. A chunk that cannot be written (a full disk, the folder
    // gone) is left out, and so is every chunk after it: the folder is a cache, and whether
    // the conversion fails is for its output to say, in the output's name.
    void keep(const std::string& key, const RenderedChunk& chunk);
    // From here on, the chunks are kept inside the sound file being written (sound, a pending
    // file in the output's folder), each once it is written there, by keptInSound(). Where
    // the file cannot be named in the folder (another file system), the chunks after the
    // first are kept in files of their own. A chunk with a volume of its own is written
    // changed, and is kept in a file all the same.
    void keepInSound(int sound) { soundToKeep_ = sound; }
    // The chunk, kept under key, has just been written into the sound from firstByte on.
    void keptInSound(const std::string& key, const RenderedChunk& chunk, std::uint64_t firstByte);
    // The folder and its files, once the output they were for is complete.
    void remove();

    // A chunk taken is rendered again all the same, for the state its run's engine carries
    // on: it saved nothing, and is not counted as taken.
    void renderedAgain() { --taken_; }
    std::size_t taken() const { return taken_; }
    const std::filesystem::path& folder() const { return folder_; }

    // The folder of an output's chunks: hidden, beside it, named after it.
    static std::filesystem::path folderFor(const std::filesystem::path& output);
    // The folder of an output's chunks, kept beside it by a conversion of which it was one
    // step, once the output is complete; never fails, and leaves alone a link or anything
    // not this user's folder.
    static void removeFolderFor(const std::filesystem::path& output) noexcept;

private:
    void open(bool create);
    bool write(const std::string& key, const RenderedChunk& chunk);
    [[noreturn]] void fail(const std::string& reason) const;

    bool inSound(const RenderedChunk& chunk) const;

    std::filesystem::path folder_;
    UniqueFd descriptor_;
    std::optional<KeptSound> sound_; // with the folder open
    int soundToKeep_ = -1;
    std::size_t taken_ = 0;
    bool keeping_ = true; // until a chunk could not be written
};

} // namespace kestrova::speech
