#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::speech {

// The sound a voice command wrote, as mono 16-bit samples at its rate.
struct CommandSound {
    int rate = 0;
    std::vector<std::int16_t> samples;
};

// A WAV file in memory, read by libsndfile at the rate and sample width of its header (a
// file of several channels mixed down to one). Throws SpeechError starting with what, naming
// why it is no sound: "... wrote no WAV sound: REASON", "... wrote a WAV file without samples".
CommandSound decodedWave(const std::string& bytes, const std::string& what);
// Raw signed 16-bit little-endian mono samples at rate; an odd byte count is no such sound.
CommandSound decodedRaw(const std::string& bytes, int rate, const std::string& what);

} // namespace kestrova::speech
