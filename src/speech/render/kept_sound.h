#pragma once

#include "speech/base/unique_fd.h"
#include "speech/render/render_pipeline.h"
#include "speech/render/render_task.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {

// Chunks kept inside the sound file they were written into, so that their samples are
// written once: the output's pending file gets a second name in the chunk folder,
// sound-N.partial, which outlives a crash of the process, and each chunk written into it adds
// a record to sound-N.index: its key, the byte its samples start at, its pauses (zeros in
// the file) and a checksum. A run started again reads the records of every earlier run (each
// its own N) and takes chunks from their files; a record whose bytes fail their checksum (a
// power cut) is rendered again.
class KeptSound {
public:
    // The earlier runs' records in the folder; none is an empty store.
    explicit KeptSound(int folder);

    std::optional<RenderedChunk> take(const std::string& key, const RenderTask& task) const;

    // Names the sound being written (sound) in the folder, under the next run's number; false
    // when it cannot be (another file system, a full folder). Its records follow.
    bool start(int folder, int sound);
    bool started() const { return static_cast<bool>(index_); }
    // Adds the chunk's record, its samples written into the sound from firstByte on; false
    // when the record could not be written.
    bool record(const std::string& key, const RenderedChunk& chunk, std::uint64_t firstByte);

private:
    struct Place {
        std::size_t run = 0; // in soundFiles_
        std::uint64_t firstByte = 0;
        std::uint64_t samples = 0;
        std::vector<RenderedChunk::Silence> silences;
        std::uint64_t checksum = 0;
    };
    bool load(int folder, unsigned run);
    void dropUnused(int folder, const std::vector<unsigned>& runs);

    std::vector<UniqueFd> soundFiles_;  // the earlier runs', read only
    std::map<std::string, Place> kept_; // a later run's record of a key replaces an earlier's
    unsigned nextRun_ = 1;
    UniqueFd index_; // this run's records, appended
};

} // namespace kestrova::speech
