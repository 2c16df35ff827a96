#include "speech/audio_format.h"

#include "speech/speech_error.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kestrova::speech {
namespace {

// The nine rates of the PCM family, in code order; each rate has four codes:
// 8-bit mono, 8-bit stereo, 16-bit mono, 16-bit stereo.
constexpr std::array pcmRates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// Every rate an Opus stream is encoded at, rising.
constexpr std::array opusRates{8000, 12000, 16000, 24000, 48000};

} // namespace

AudioFormat AudioFormat::fromFormatCode(int code) {
    if (code < firstPcmCode || code > lastPcmCode)
        throw SpeechError("format code " + std::to_string(code) +
                          " is not a PCM format (the PCM codes are 4 to 39)");
    const int index = code - firstPcmCode;
    const int variant = index % 4;
    return AudioFormat{pcmRates[static_cast<std::size_t>(index / 4)], variant < 2 ? 8 : 16,
                       variant % 2 == 0 ? 1 : 2};
}

int AudioFormat::formatCode() const {
    const auto rate = std::find(pcmRates.begin(), pcmRates.end(), sampleRate);
    if (rate == pcmRates.end() || (bitsPerSample != 8 && bitsPerSample != 16) ||
        (channels != 1 && channels != 2))
        throw SpeechError(describe() + " has no format code");
    return firstPcmCode + static_cast<int>(rate - pcmRates.begin()) * 4 +
           (bitsPerSample == 16 ? 2 : 0) + (channels == 2 ? 1 : 0);
}

std::string AudioFormat::describe() const {
    return std::to_string(sampleRate) + " Hz " + std::to_string(bitsPerSample) + "-bit " +
           (channels == 1 ? "mono" : "stereo");
}

Container containerForPath(const std::filesystem::path& path) {
    std::string ending = path.extension().string();
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ending == ".flac")
        return Container::Flac;
    if (ending == ".ogg")
        return Container::OggVorbis;
    if (ending == ".opus")
        return Container::OggOpus;
    if (ending == ".mp3")
        return Container::Mp3;
    return Container::Wave;
}

const char* soundFileKind(Container container) {
    switch (container) {
    case Container::Wave:
        break;
    case Container::Flac:
        return "FLAC file";
    case Container::OggVorbis:
        return "Ogg Vorbis file";
    case Container::OggOpus:
        return "Opus file";
    case Container::Mp3:
        return "MP3 file";
    case Container::Au:
        return "AU file";
    case Container::Raw:
        return "raw PCM file";
    }
    return "wave file";
}

AudioFormat writtenFormat(Container container, const AudioFormat& format) {
    if (container != Container::OggOpus)
        return format;
    const auto rate = std::lower_bound(opusRates.begin(), opusRates.end(), format.sampleRate);
    AudioFormat written = format;
    written.sampleRate = rate == opusRates.end() ? opusRates.back() : *rate;
    return written;
}

bool canStream(Container container) {
    return container != Container::Wave;
}

} // namespace kestrova::speech
