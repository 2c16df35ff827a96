// The M4B encoder module: Mp4AudioWriter with FFmpeg's libraries, behind the one entry the
// library looks up when it writes an M4B file.
#include "speech/audio/mp4/encoded_sound_writer.h"
#include "speech/audio/mp4/mp4_audio_writer.h"

#include <memory>

namespace kestrova::speech {
namespace {

class ModuleMp4Writer final : public EncodedSoundWriter {
public:
    explicit ModuleMp4Writer(const Mp4WriterArguments& arguments)
        : writer_(arguments.fd, arguments.format, arguments.path, arguments.tags,
                  arguments.bitrateKbps, arguments.cancel) {}

    void write(std::span<const std::int16_t> samples) override { writer_.write(samples); }
    void setChapters(std::vector<ChapterTiming> chapters) override {
        writer_.setChapters(std::move(chapters));
    }
    void close() override { writer_.close(); }
    std::uint64_t framesWritten() const override { return writer_.framesWritten(); }

private:
    Mp4AudioWriter writer_;
};

} // namespace
} // namespace kestrova::speech

extern "C" __attribute__((visibility("default"))) kestrova::speech::EncodedSoundWriter*
kestrova_open_mp4_writer(const kestrova::speech::Mp4WriterArguments& arguments) {
    return std::make_unique<kestrova::speech::ModuleMp4Writer>(arguments).release();
}
