#pragma once

#include "speech/audio/mp4/encoded_sound_writer.h"
#include "speech/base/program_module.h"

#include <memory>

namespace kestrova::speech {

// An M4B file written through the encoder module (Mp4AudioWriter with FFmpeg), loaded when the
// first M4B file is opened: FFmpeg's libraries bring some 130 shared libraries with them,
// which every other conversion, and the window program, would otherwise load at start and keep
// in memory (22 MB, and a tenth of a second at each start). The module is looked for beside
// the program (a build tree), then where it is installed; one that cannot be loaded fails the
// file, naming it, before any sound.
class Mp4Output {
public:
    explicit Mp4Output(const Mp4WriterArguments& arguments);
    ~Mp4Output();
    Mp4Output(Mp4Output&&) noexcept;
    Mp4Output& operator=(Mp4Output&&) noexcept;

    void write(std::span<const std::int16_t> samples) { writer_->write(samples); }
    void setChapters(std::vector<ChapterTiming> chapters) {
        writer_->setChapters(std::move(chapters));
    }
    void close() { writer_->close(); }
    std::uint64_t framesWritten() const { return writer_->framesWritten(); }

private:
    // Declared first: the writer's code lives in the module.
    ProgramModule module_;
    std::unique_ptr<EncodedSoundWriter> writer_;
};

} // namespace kestrova::speech
