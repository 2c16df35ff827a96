// The bit rates of AAC in MP4, in the library and in the M4B encoder module alike: known
// before the encoder is loaded, so that a rate it cannot carry fails before any sound.
#include "speech/audio/mp4/mp4_audio_writer.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

namespace kestrova::speech {

int Mp4AudioWriter::mostBitrateKbps(const AudioFormat& format) {
    return static_cast<int>(std::int64_t{6144} * format.sampleRate * format.channels / 1024 / 1000);
}

void Mp4AudioWriter::checkBitrate(const AudioFormat& format, int bitrateKbps,
                                  const std::filesystem::path& path) {
    const int most = mostBitrateKbps(format);
    if (bitrateKbps > most)
        throw FileError(outputFailure(path,
                                      "AAC at " + format.describe() + " takes at most " +
                                          std::to_string(most) + " kb/s, not " +
                                          std::to_string(bitrateKbps),
                                      soundFileKind(Container::M4b)));
}

} // namespace kestrova::speech
