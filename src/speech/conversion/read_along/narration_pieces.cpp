#include "speech/conversion/read_along/narration_pieces.h"

#include "speech/audio/mp4/mp4_audio_writer.h"
#include "speech/audio/mp4/mp4_output.h"
#include "speech/audio/sndfile/sound_file_writer.h"
#include "speech/base/unique_fd.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace kestrova::speech::read_along {

NarrationPieces::NarrationPieces(const std::filesystem::path& wave) : wave_(wave) {
    SF_INFO info{};
    file_.reset(sf_open(wave.c_str(), SFM_READ, &info));
    if (!file_ || info.channels != 1)
        throw FileError(inputFailure("read", wave, sf_strerror(file_.get())));
    frames_ = static_cast<std::uint64_t>(info.frames);
}

template <typename Writer>
void NarrationPieces::copy(std::uint64_t begin, std::uint64_t end, Writer& writer,
                           const std::filesystem::path& shownAs, const std::atomic<bool>* cancel) {
    if (sf_seek(file_.get(), static_cast<sf_count_t>(begin), SEEK_SET) < 0)
        throw FileError(inputFailure("read", wave_, sf_strerror(file_.get())));
    std::vector<std::int16_t> block(1 << 16);
    for (std::uint64_t at = begin; at < end;) {
        if (cancel != nullptr && cancel->load())
            throw ConversionCancelled(
                outputFailure(shownAs, "the conversion was cancelled", "read-along book"));
        const auto wanted =
            static_cast<sf_count_t>(std::min<std::uint64_t>(block.size(), end - at));
        const sf_count_t read = sf_readf_short(file_.get(), block.data(), wanted);
        if (read != wanted)
            throw FileError(inputFailure("read", wave_, "it ended early"));
        writer.write(std::span(block.data(), static_cast<std::size_t>(read)));
        at += static_cast<std::uint64_t>(read);
    }
    writer.close();
}

void NarrationPieces::write(std::uint64_t begin, std::uint64_t end,
                            const std::filesystem::path& file, Container container,
                            const AudioFormat& format, std::optional<int> bitrateKbps,
                            const std::filesystem::path& shownAs, const std::atomic<bool>* cancel) {
    const UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd)
        throw FileError(outputFailure(shownAs, std::strerror(errno), "read-along book"));
    if (container == Container::M4b) {
        Mp4Output writer(Mp4WriterArguments{
            .fd = fd.get(),
            .format = format,
            .path = shownAs,
            .tags = {},
            .bitrateKbps = bitrateKbps.value_or(Mp4AudioWriter::defaultBitrateKbps(format)),
            .cancel = cancel});
        copy(begin, end, writer, shownAs, cancel);
        return;
    }
    SoundFileWriter writer(fd.get(), container, format, shownAs, end - begin, {}, cancel);
    if (container == Container::Mp3 && bitrateKbps)
        writer.setConstantBitrate(*bitrateKbps);
    copy(begin, end, writer, shownAs, cancel);
}

} // namespace kestrova::speech::read_along
