#pragma once

#include "speech/audio_format.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <sndfile.h>

namespace kestrova::speech::read_along {

// The whole narration, rendered into one mono 16-bit wave file, cut into the audio files of
// the book's documents: each piece encoded on its own from the samples, never from another
// lossy file.
class NarrationPieces {
public:
    explicit NarrationPieces(const std::filesystem::path& wave);

    std::uint64_t frames() const { return frames_; }
    // Frames [begin, end) into a new file in the container (MP3, Opus, or AAC in MP4 for M4b)
    // and format; shownAs names it in messages. A set cancel flag stops it between blocks with
    // ConversionCancelled.
    void write(std::uint64_t begin, std::uint64_t end, const std::filesystem::path& file,
               Container container, const AudioFormat& format, std::optional<int> bitrateKbps,
               const std::filesystem::path& shownAs, const std::atomic<bool>* cancel);

private:
    template <typename Writer>
    void copy(std::uint64_t begin, std::uint64_t end, Writer& writer,
              const std::filesystem::path& shownAs, const std::atomic<bool>* cancel);

    struct Close {
        void operator()(SNDFILE* file) const { sf_close(file); }
    };
    std::filesystem::path wave_;
    std::unique_ptr<SNDFILE, Close> file_;
    std::uint64_t frames_ = 0;
};

} // namespace kestrova::speech::read_along
