#include "speech/engines/command/command_sound.h"

#include "speech/speech_error.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sndfile.h>

namespace kestrova::speech {
namespace {

// The bytes as libsndfile's virtual file: read from where it stands, seekable.
struct MemoryFile {
    const std::string* bytes;
    sf_count_t at = 0;
};

sf_count_t memoryLength(void* file) {
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(file)->bytes->size());
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* opaque) {
    auto* file = static_cast<MemoryFile*>(opaque);
    const sf_count_t base = whence == SEEK_CUR   ? file->at
                            : whence == SEEK_END ? memoryLength(opaque)
                                                 : 0;
    file->at = std::clamp<sf_count_t>(base + offset, 0, memoryLength(opaque));
    return file->at;
}

sf_count_t memoryRead(void* into, sf_count_t count, void* opaque) {
    auto* file = static_cast<MemoryFile*>(opaque);
    const sf_count_t taken = std::clamp<sf_count_t>(memoryLength(opaque) - file->at, 0, count);
    std::memcpy(into, file->bytes->data() + file->at, static_cast<std::size_t>(taken));
    file->at += taken;
    return taken;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memoryTell(void* file) {
    return static_cast<MemoryFile*>(file)->at;
}

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

// Each frame's channels as one sample: their mean, rounded toward zero.
std::vector<std::int16_t> mixedDown(const std::vector<std::int16_t>& frames, int channels) {
    std::vector<std::int16_t> mono(frames.size() / static_cast<std::size_t>(channels));
    for (std::size_t frame = 0; frame < mono.size(); ++frame) {
        int sum = 0;
        for (int channel = 0; channel < channels; ++channel)
            sum += frames[frame * static_cast<std::size_t>(channels) +
                          static_cast<std::size_t>(channel)];
        mono[frame] = static_cast<std::int16_t>(sum / channels);
    }
    return mono;
}

} // namespace

CommandSound decodedWave(const std::string& bytes, const std::string& what) {
    SF_VIRTUAL_IO io = {.get_filelen = memoryLength,
                        .seek = memorySeek,
                        .read = memoryRead,
                        .write = memoryWrite,
                        .tell = memoryTell};
    MemoryFile memory{.bytes = &bytes, .at = 0};
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SoundFileCloser> file(
        sf_open_virtual(&io, SFM_READ, &info, &memory));
    if (!file)
        throw SpeechError(what + " wrote no WAV sound: " + sf_strerror(nullptr));
    // Floating-point samples at full scale read as full-scale integers.
    sf_command(file.get(), SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    std::vector<std::int16_t> frames;
    std::int16_t piece[16384];
    const sf_count_t pieceFrames = static_cast<sf_count_t>(std::size(piece)) / info.channels;
    for (sf_count_t got; (got = sf_readf_short(file.get(), piece, pieceFrames)) > 0;)
        frames.insert(frames.end(), piece, piece + got * info.channels);
    if (frames.empty())
        throw SpeechError(what + " wrote a WAV file without samples");
    return {.rate = info.samplerate,
            .samples = info.channels == 1 ? std::move(frames) : mixedDown(frames, info.channels)};
}

CommandSound decodedRaw(const std::string& bytes, int rate, const std::string& what) {
    if (bytes.size() % 2 != 0)
        throw SpeechError(what + " wrote " + std::to_string(bytes.size()) +
                          " bytes: not raw 16-bit samples, which come in pairs of bytes");
    CommandSound sound{.rate = rate, .samples = std::vector<std::int16_t>(bytes.size() / 2)};
    for (std::size_t i = 0; i < sound.samples.size(); ++i)
        sound.samples[i] = static_cast<std::int16_t>(
            static_cast<unsigned char>(bytes[2 * i]) |
            static_cast<unsigned>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
    return sound;
}

} // namespace kestrova::speech
