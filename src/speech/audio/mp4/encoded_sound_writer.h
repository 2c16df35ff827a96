#pragma once

#include "speech/audio_format.h"
#include "speech/sound_tags.h"
#include "speech/speech_timings.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace kestrova::speech {

// A writer that lives in a module of its own, loaded only when a file of its kind is written,
// seen through its virtual functions alone: the program links none of the module's libraries.
class EncodedSoundWriter {
public:
    virtual ~EncodedSoundWriter() = default;
    virtual void write(std::span<const std::int16_t> samples) = 0;
    virtual void setChapters(std::vector<ChapterTiming> chapters) = 0;
    virtual void close() = 0;
    virtual std::uint64_t framesWritten() const = 0;
};

// What the M4B module's writer is opened with.
struct Mp4WriterArguments {
    int fd;
    AudioFormat format;
    std::filesystem::path path;
    SoundTags tags;
    int bitrateKbps;
    const std::atomic<bool>* cancel;
};

} // namespace kestrova::speech

// The M4B module's one entry: a writer the caller owns (deletes through its virtual
// destructor), or an exception (FileError, ConversionCancelled) as Mp4AudioWriter throws it.
extern "C" kestrova::speech::EncodedSoundWriter*
kestrova_open_mp4_writer(const kestrova::speech::Mp4WriterArguments& arguments);
using OpenMp4Writer = decltype(&kestrova_open_mp4_writer);
