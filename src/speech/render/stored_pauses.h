#pragma once

#include "speech/render/render_pipeline.h"

#include <cstdint>
#include <vector>

namespace kestrova::speech {

// A chunk's pause as a kept chunk's file or record stores it: the sample it comes before and
// its frames, both of 64 bits whatever the machine's size_t.
struct StoredPause {
    std::uint64_t before;
    std::uint64_t frames;
};

inline std::vector<StoredPause> storedPauses(const std::vector<RenderedChunk::Silence>& silences) {
    std::vector<StoredPause> stored;
    stored.reserve(silences.size());
    for (const RenderedChunk::Silence& silence : silences)
        stored.push_back({.before = silence.before, .frames = silence.frames});
    return stored;
}

inline std::vector<RenderedChunk::Silence> chunkPauses(const std::vector<StoredPause>& stored) {
    std::vector<RenderedChunk::Silence> silences;
    silences.reserve(stored.size());
    for (const StoredPause& pause : stored)
        silences.push_back(
            {.before = static_cast<std::size_t>(pause.before), .frames = pause.frames});
    return silences;
}

} // namespace kestrova::speech
