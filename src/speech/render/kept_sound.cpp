#include "speech/render/kept_sound.h"

#include "speech/render/chunk_checksum.h"
#include "speech/render/stored_pauses.h"
#include "speech/whole_io.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

// A record of sound-N.index: the head, the key, each pause (the sample it comes before, its
// frames), then the checksum of all that and the chunk's samples.
constexpr std::array<char, 8> recordMagic = {'K', 'S', 'S', 'O', 'U', 'N', 'D', '1'};
struct RecordHead {
    std::array<char, 8> magic;
    std::uint64_t keyBytes;
    std::uint64_t firstByte;
    std::uint64_t samples;
    std::uint64_t silences;
};
constexpr std::uint64_t longestKey = 256;
// An index past this is not one of ours: a record takes about a hundred bytes a chunk.
constexpr off_t largestIndex = off_t{64} << 20;

std::string soundName(unsigned run) {
    return "sound-" + std::to_string(run) + ".partial";
}
std::string indexName(unsigned run) {
    return "sound-" + std::to_string(run) + ".index";
}

// The run number of a name sound-N.partial or sound-N.index.
std::optional<unsigned> runOf(std::string_view name) {
    if (!name.starts_with("sound-"))
        return std::nullopt;
    name.remove_prefix(6);
    unsigned run = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), run);
    const std::string_view rest(end, static_cast<std::size_t>(name.data() + name.size() - end));
    if (error != std::errc() || (rest != ".partial" && rest != ".index"))
        return std::nullopt;
    return run;
}

std::uint64_t checksumOf(const RecordHead& head, const std::string& key,
                         const std::vector<StoredPause>& silences,
                         std::span<const std::int16_t> samples) {
    ChunkChecksum checksum;
    checksum.add(&head, sizeof head);
    checksum.add(key.data(), key.size());
    checksum.add(silences.data(), silences.size() * sizeof(StoredPause));
    checksum.add(samples.data(), samples.size_bytes());
    return checksum.value();
}

struct DirectoryClose {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// The run numbers named in the folder, partial sounds and indexes alike.
std::vector<unsigned> runsIn(int folder) {
    std::vector<unsigned> runs;
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return runs;
    const std::unique_ptr<DIR, DirectoryClose> directory(::fdopendir(listed));
    if (!directory) {
        ::close(listed);
        return runs;
    }
    while (const dirent* entry = ::readdir(directory.get()))
        if (const std::optional<unsigned> run = runOf(entry->d_name))
            runs.push_back(*run);
    std::sort(runs.begin(), runs.end());
    runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
    return runs;
}

std::string wholeIndex(int folder, unsigned run) {
    const UniqueFd file(
        ::openat(folder, indexName(run).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > largestIndex)
        return {};
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    if (!readAll(file.get(), bytes.data(), bytes.size()).whole())
        return {};
    return bytes;
}

} // namespace

KeptSound::KeptSound(int folder) {
    std::vector<unsigned> loaded;
    for (const unsigned run : runsIn(folder)) {
        if (load(folder, run))
            loaded.push_back(run);
        nextRun_ = std::max(nextRun_, run + 1);
    }
    dropUnused(folder, loaded);
}

// A run each of whose chunks a later run holds too is of no more use: each run started again
// copies what it takes into its own sound, and would otherwise leave another copy behind.
void KeptSound::dropUnused(int folder, const std::vector<unsigned>& runs) {
    std::vector<bool> used(soundFiles_.size(), false);
    for (const auto& [key, place] : kept_)
        used[place.run] = true;
    for (std::size_t i = 0; i < used.size(); ++i)
        if (!used[i]) {
            soundFiles_[i].reset();
            ::unlinkat(folder, soundName(runs[i]).c_str(), 0);
            ::unlinkat(folder, indexName(runs[i]).c_str(), 0);
        }
}

// The records up to the first that is not whole: one cut short ends the index. False when the
// run left no sound and index to read.
bool KeptSound::load(int folder, unsigned run) {
    const std::string index = wholeIndex(folder, run);
    UniqueFd sound(::openat(folder, soundName(run).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (index.empty() || !sound)
        return false;
    const std::size_t soundRun = soundFiles_.size();
    soundFiles_.push_back(std::move(sound));
    for (std::size_t at = 0; index.size() - at >= sizeof(RecordHead);) {
        RecordHead head{};
        std::memcpy(&head, index.data() + at, sizeof head);
        const std::size_t left = index.size() - at - sizeof head;
        if (head.magic != recordMagic || head.keyBytes > longestKey ||
            head.silences > left / sizeof(StoredPause) ||
            left < head.keyBytes + head.silences * sizeof(StoredPause) + sizeof(std::uint64_t))
            return true;
        at += sizeof head;
        Place place{.run = soundRun,
                    .firstByte = head.firstByte,
                    .samples = head.samples,
                    .silences = {},
                    .checksum = 0};
        std::string key = index.substr(at, head.keyBytes);
        at += head.keyBytes;
        std::vector<StoredPause> pauses(head.silences);
        if (!pauses.empty()) // memcpy takes no null pointer, even for no bytes
            std::memcpy(pauses.data(), index.data() + at, pauses.size() * sizeof(StoredPause));
        at += pauses.size() * sizeof(StoredPause);
        place.silences = chunkPauses(pauses);
        std::memcpy(&place.checksum, index.data() + at, sizeof place.checksum);
        at += sizeof place.checksum;
        kept_.insert_or_assign(std::move(key), std::move(place));
    }
    return true;
}

// The chunk's bytes as they lie in the sound: its samples with its pauses, as zeros, in their
// places. Pauses that are not zeros, or samples that fail the checksum, are no chunk.
std::optional<RenderedChunk> KeptSound::take(const std::string& key, const RenderTask& task) const {
    const auto found = kept_.find(key);
    if (found == kept_.end())
        return std::nullopt;
    const Place& place = found->second;
    const int sound = soundFiles_[place.run].get();
    struct stat status {};
    if (::fstat(sound, &status) != 0)
        return std::nullopt;
    const std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
    if (place.firstByte > size || place.samples > size)
        return std::nullopt;
    std::uint64_t frames = place.samples;
    for (const RenderedChunk::Silence& silence : place.silences)
        if (silence.frames > size || (frames += silence.frames) > size)
            return std::nullopt;
    if (frames > (size - place.firstByte) / 2)
        return std::nullopt;
    std::vector<std::int16_t> stored(static_cast<std::size_t>(frames));
    if (!readAllAt(sound, stored.data(), stored.size() * 2, static_cast<off_t>(place.firstByte))
             .whole())
        return std::nullopt;
    std::vector<std::int16_t> samples;
    samples.reserve(place.samples);
    auto next = stored.cbegin();
    for (const RenderedChunk::Silence& silence : place.silences) {
        if (silence.before < samples.size() || silence.before > place.samples)
            return std::nullopt;
        const auto upTo = next + static_cast<std::ptrdiff_t>(silence.before - samples.size());
        samples.insert(samples.end(), next, upTo);
        next = upTo + static_cast<std::ptrdiff_t>(silence.frames);
        if (!std::all_of(upTo, next, [](std::int16_t sample) { return sample == 0; }))
            return std::nullopt;
    }
    samples.insert(samples.end(), next, stored.cend());
    const RecordHead head{.magic = recordMagic,
                          .keyBytes = key.size(),
                          .firstByte = place.firstByte,
                          .samples = place.samples,
                          .silences = place.silences.size()};
    if (samples.size() != place.samples ||
        checksumOf(head, key, storedPauses(place.silences), samples) != place.checksum)
        return std::nullopt;
    RenderedChunk chunk = renderedShell(task);
    chunk.silences = place.silences;
    chunk.samples = ChunkSamples(std::move(samples));
    return chunk;
}

bool KeptSound::start(int folder, int sound) {
    const std::string name = soundName(nextRun_);
    const std::string self = "/proc/self/fd/" + std::to_string(sound);
    if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        ::linkat(sound, "", folder, name.c_str(), AT_EMPTY_PATH) != 0)
        return false;
    index_.reset(::openat(folder, indexName(nextRun_).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!index_)
        ::unlinkat(folder, name.c_str(), 0);
    return started();
}

bool KeptSound::record(const std::string& key, const RenderedChunk& chunk,
                       std::uint64_t firstByte) {
    const RecordHead head{.magic = recordMagic,
                          .keyBytes = key.size(),
                          .firstByte = firstByte,
                          .samples = chunk.samples.size(),
                          .silences = chunk.silences.size()};
    const std::vector<StoredPause> silences = storedPauses(chunk.silences);
    const std::uint64_t checksum =
        checksumOf(head, key, silences, std::span(chunk.samples.data(), chunk.samples.size()));
    std::string record(reinterpret_cast<const char*>(&head), sizeof head);
    record.append(key);
    record.append(reinterpret_cast<const char*>(silences.data()),
                  silences.size() * sizeof(StoredPause));
    record.append(reinterpret_cast<const char*>(&checksum), sizeof checksum);
    return writeAll(index_.get(), record.data(), record.size()).whole();
}

} // namespace kestrova::speech
