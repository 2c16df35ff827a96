#include "speech/audio/processing/encoded_loudness.h"

#include "speech/audio/processing/loudness_meter.h"
#include "speech/audio/sndfile/sound_file_writer.h"
#include "speech/base/unique_fd.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <sndfile.h>
#include <string>
#include <sys/mman.h>
#include <vector>

namespace kestrova::speech {
namespace {

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

[[noreturn]] void failTrial(const std::filesystem::path& output, Container container,
                            const std::string& reason) {
    throw FileError(outputFailure(output, "measuring the encoder's change of loudness: " + reason,
                                  soundFileKind(container)));
}

// The first channel of a sound file from its start, measured.
double decodedLoudness(int fd, const std::filesystem::path& output, Container container) {
    if (::lseek(fd, 0, SEEK_SET) != 0)
        failTrial(output, container, std::strerror(errno));
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SoundFileCloser> sound(
        sf_open_fd(fd, SFM_READ, &info, SF_FALSE));
    if (!sound)
        failTrial(output, container, sf_strerror(nullptr));
    LoudnessMeter meter(info.samplerate, false, false);
    const auto channels = static_cast<std::size_t>(std::max(info.channels, 1));
    std::vector<std::int16_t> block(4096 * channels);
    std::vector<std::int16_t> first;
    for (sf_count_t frames; (frames = sf_readf_short(sound.get(), block.data(), 4096)) > 0;) {
        first.resize(static_cast<std::size_t>(frames));
        for (std::size_t frame = 0; frame < first.size(); ++frame)
            first[frame] = block[frame * channels];
        meter.add(first);
    }
    return meter.measure().integratedLufs;
}

} // namespace

double encodedLoudnessChangeLu(const std::filesystem::path& output, Container container,
                               AudioFormat format, std::optional<int> constantBitrateKbps,
                               std::span<const std::int16_t> samples) {
    if (!containerRow(container).bySndfile || samples.empty())
        return 0;
    LoudnessMeter given(format.sampleRate, false, false);
    given.add(samples);
    const double before = given.measure().integratedLufs;
    if (!std::isfinite(before))
        return 0;
    const UniqueFd memory(::memfd_create("kestrova-encoded", MFD_CLOEXEC));
    if (!memory)
        failTrial(output, container, std::strerror(errno));
    SoundFileWriter writer(memory.get(), container, format, output, samples.size());
    if (container == Container::Mp3 && constantBitrateKbps)
        writer.setConstantBitrate(*constantBitrateKbps);
    writer.write(samples);
    writer.close();
    const double after = decodedLoudness(memory.get(), output, container);
    return std::isfinite(after) ? after - before : 0;
}

} // namespace kestrova::speech
