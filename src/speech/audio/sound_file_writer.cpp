#include "sound_file_writer.h"

#include "speech/audio/sound_tag_writer.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kestrova::speech {
namespace {

// A plain wave file counts its bytes in 32 bits.
constexpr std::uint64_t plainWaveLimitBytes = 0xFFFFFFFFu - (1u << 16);

int sndfileFormat(Container container, const AudioFormat& format, bool large) {
    const bool eightBit = format.bitsPerSample == 8;
    switch (container) {
    case Container::Flac:
        return SF_FORMAT_FLAC | (eightBit ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    case Container::OggVorbis:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case Container::OggOpus:
        return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    case Container::Mp3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    case Container::Au:
        return SF_FORMAT_AU | (eightBit ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    case Container::Raw:
        return SF_FORMAT_RAW | SF_ENDIAN_LITTLE | (eightBit ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    case Container::Wave:
        break;
    }
    return (large ? SF_FORMAT_RF64 : SF_FORMAT_WAV) |
           (eightBit ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
}

} // namespace

SoundFileWriter::SoundFileWriter(int fd, Container container, AudioFormat format,
                                 std::filesystem::path path, std::uint64_t expectedFrames,
                                 const SoundTags& tags)
    : fd_(fd), format_(format), path_(std::move(path)) {
    const std::uint64_t frameBytes =
        static_cast<std::uint64_t>(format.channels) * (format.bitsPerSample / 8);
    // Twice the expected length still fits a plain wave: no need for RF64.
    const bool large =
        container == Container::Wave && expectedFrames * frameBytes > plainWaveLimitBytes / 2;
    if (container == Container::Wave && !large) {
        frameLimit_ = plainWaveLimitBytes / frameBytes;
        plainWave_ = true;
    }
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channels;
    info.format = sndfileFormat(container, format, large);
    if (!sf_format_check(&info))
        throw FileError(outputFailure(path_, "this file type cannot hold " + format.describe()));
    const SoundTagStrings tagStrings = soundTagStrings(container, tags, path_);
    file_.reset(sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE));
    if (!file_)
        throw FileError(outputFailure(path_, sf_strerror(nullptr)));
    if (large)
        sf_command(file_.get(), SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    writeSoundTags(file_.get(), tagStrings, path_);
}

SoundFileWriter::~SoundFileWriter() = default;

void SoundFileWriter::write(std::span<const std::int16_t> monoSamples) {
    if (monoSamples.empty())
        return;
    if (frames_ + monoSamples.size() > frameLimit_)
        throw FileError(outputFailure(path_, "the speech runs longer than a wave file of " +
                                                 format_.describe() +
                                                 " can hold; choose a lower rate"));
    std::span<const std::int16_t> frames = monoSamples;
    if (format_.channels == 2) {
        interleaved_.resize(monoSamples.size() * 2);
        for (std::size_t i = 0; i < monoSamples.size(); ++i)
            interleaved_[2 * i] = interleaved_[2 * i + 1] = monoSamples[i];
        frames = interleaved_;
    }
    errno = 0;
    const auto count = static_cast<sf_count_t>(monoSamples.size());
    if (sf_writef_short(file_.get(), frames.data(), count) != count) {
        const int systemError = errno;
        throw FileError(outputFailure(path_, systemError ? std::strerror(systemError)
                                                         : sf_strerror(file_.get())));
    }
    frames_ += monoSamples.size();
}

void SoundFileWriter::setCuePoints(std::vector<CuePoint> points) {
    cuePoints_ = std::move(points);
}

void SoundFileWriter::close() {
    if (!file_)
        return;
    if (std::any_of(cuePoints_.begin(), cuePoints_.end(),
                    [this](const CuePoint& point) { return point.frame > frames_; }))
        throw std::logic_error("a cue point lies beyond the end of the sound");
    sf_write_sync(file_.get());
    errno = 0;
    const int result = sf_close(file_.release());
    if (result != 0)
        throw FileError(
            outputFailure(path_, errno ? std::strerror(errno) : sf_error_number(result)));
    // libsndfile refuses cue points once a sample is written: they follow its chunks. It
    // reads none from RF64.
    if (plainWave_)
        appendWaveCuePoints(fd_, cuePoints_, path_);
}

} // namespace kestrova::speech
