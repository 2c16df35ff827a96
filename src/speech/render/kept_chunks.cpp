#include "speech/render/kept_chunks.h"

#include "speech/file_failures.h"
#include "speech/render/chunk_checksum.h"
#include "speech/render/stored_pauses.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

// A chunk file: the magic, the counts of samples and of silences, each silence (the sample it
// comes before, its frames), the samples, then the checksum of all that (ChunkChecksum).
constexpr std::array<char, 8> magic = {'K', 'S', 'C', 'H', 'U', 'N', 'K', '3'};
struct FileHead {
    std::array<char, 8> magic;
    std::uint64_t samples;
    std::uint64_t silences;
};
using Digest = std::uint64_t;

std::string temporaryName(const std::string& key) {
    return key + ".part";
}

} // namespace

KeptChunks::KeptChunks(std::filesystem::path folder) : folder_(std::move(folder)) {
    open(false);
}

std::filesystem::path KeptChunks::folderFor(const std::filesystem::path& output) {
    return output.parent_path() / ("." + output.filename().string() + ".kestrova-resume");
}

void KeptChunks::fail(const std::string& reason) const {
    throw SpeechError(outputFailure(folder_, reason, "chunk folder"));
}

// Never through a link, and only a folder no one else may write into or read: what it holds
// becomes the output. A folder that cannot be made leaves the chunks unkept.
void KeptChunks::open(bool create) {
    const std::filesystem::path& path = folder_;
    if (create && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        // An output's name near the longest a folder takes leaves no room for the folder's.
        if (errno == ENAMETOOLONG || (errno == ENOENT && !create))
            return;
        fail(std::strerror(errno));
    }
    if (S_ISLNK(status.st_mode))
        fail("it is a symbolic link");
    if (!S_ISDIR(status.st_mode))
        fail("it is not a folder");
    if (status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
        fail("it is not this user's alone");
    descriptor_.reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!descriptor_)
        fail(std::strerror(errno));
    sound_.emplace(descriptor_.get());
}

std::optional<RenderedChunk> KeptChunks::take(const std::string& key, const RenderTask& task) {
    if (!descriptor_)
        return std::nullopt;
    if (std::optional<RenderedChunk> chunk = sound_->take(key, task)) {
        ++taken_;
        return chunk;
    }
    const UniqueFd file(
        ::openat(descriptor_.get(), key.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    FileHead head{};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        !readAll(file.get(), &head, sizeof head).whole() || head.magic != magic)
        return std::nullopt;
    const std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
    if (head.silences > size / sizeof(StoredPause) || head.samples > size / 2 ||
        size !=
            sizeof head + head.silences * sizeof(StoredPause) + head.samples * 2 + sizeof(Digest))
        return std::nullopt;
    std::vector<StoredPause> silences(head.silences);
    std::vector<std::int16_t> samples(head.samples);
    Digest stored = 0;
    if (!readAll(file.get(), silences.data(), silences.size() * sizeof(StoredPause)).whole() ||
        !readAll(file.get(), samples.data(), samples.size() * 2).whole() ||
        !readAll(file.get(), &stored, sizeof stored).whole())
        return std::nullopt;
    ChunkChecksum digest;
    digest.add(&head, sizeof head);
    digest.add(silences.data(), silences.size() * sizeof(StoredPause));
    digest.add(samples.data(), samples.size() * 2);
    if (digest.value() != stored)
        return std::nullopt;
    RenderedChunk chunk = renderedShell(task);
    chunk.silences = chunkPauses(silences);
    chunk.samples = ChunkSamples(std::move(samples));
    ++taken_;
    return chunk;
}

void KeptChunks::keep(const std::string& key, const RenderedChunk& chunk) {
    if (!keeping_ || inSound(chunk))
        return;
    if (!descriptor_)
        open(true);
    keeping_ = descriptor_ && write(key, chunk);
    // A folder left empty is no help to the next run: it goes (rmdir takes only an empty one).
    if (!keeping_ && descriptor_ && ::rmdir(folder_.c_str()) == 0)
        descriptor_.reset();
}

// The folder is made, and the sound named in it, with the first chunk kept there: a
// conversion stopped before has nothing to leave.
void KeptChunks::keptInSound(const std::string& key, const RenderedChunk& chunk,
                             std::uint64_t firstByte) {
    if (!keeping_ || !inSound(chunk))
        return;
    if (!sound_ || !sound_->started()) {
        if (!descriptor_)
            open(true);
        if (!descriptor_ || !sound_->start(descriptor_.get(), soundToKeep_)) {
            soundToKeep_ = -1;
            return;
        }
    }
    keeping_ = sound_->record(key, chunk, firstByte);
}

// The volume is applied as the chunk is written: its samples in the sound are not its own.
bool KeptChunks::inSound(const RenderedChunk& chunk) const {
    return soundToKeep_ >= 0 && chunk.volume == 1.0;
}

bool KeptChunks::write(const std::string& key, const RenderedChunk& chunk) {
    const std::string partName = temporaryName(key);
    const UniqueFd file(::openat(descriptor_.get(), partName.c_str(),
                                 O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file)
        return false;
    const FileHead head{
        .magic = magic, .samples = chunk.samples.size(), .silences = chunk.silences.size()};
    const std::vector<StoredPause> silences = storedPauses(chunk.silences);
    const std::span<const std::int16_t> samples(chunk.samples.data(), chunk.samples.size());
    ChunkChecksum digest;
    digest.add(&head, sizeof head);
    digest.add(silences.data(), silences.size() * sizeof(StoredPause));
    digest.add(samples.data(), samples.size_bytes());
    const Digest sum = digest.value();
    const std::array<std::span<const std::byte>, 4> parts = {
        std::as_bytes(std::span(&head, 1)), std::as_bytes(std::span(silences)),
        std::as_bytes(samples), std::as_bytes(std::span(&sum, 1))};
    for (const std::span<const std::byte> part : parts)
        if (!writeAll(file.get(), part.data(), part.size()).whole()) {
            ::unlinkat(descriptor_.get(), partName.c_str(), 0);
            return false;
        }
    return ::renameat(descriptor_.get(), partName.c_str(), descriptor_.get(), key.c_str()) == 0;
}

void KeptChunks::removeFolderFor(const std::filesystem::path& output) noexcept {
    const std::filesystem::path folder = folderFor(output);
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void KeptChunks::remove() {
    if (!descriptor_)
        return;
    descriptor_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

} // namespace kestrova::speech
