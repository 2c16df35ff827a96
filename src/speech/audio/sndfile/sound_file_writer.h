#pragma once

#include "speech/audio/sndfile/wave_cue_points.h"
#include "speech/audio_format.h"
#include "speech/base/unique_fd.h"
#include "speech/sound_tags.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sndfile.h>
#include <span>
#include <string>
#include <vector>

namespace kestrova::speech {

class ByteSink;

// An owning libsndfile handle that writes mono 16-bit samples into an open file in the
// chosen container and format; libsndfile writes every header. A wave file that may come
// near 4 GiB is written as RF64 (read as a plain wave while it stays smaller); any other is
// a plain PCM wave, which every reader takes.
// Every byte goes through a ByteSink that checks each write, the ones libsndfile makes as it
// closes included (it reports none of those): a failed write fails the writer, naming the
// file by its kind and the system's reason.
class SoundFileWriter {
public:
    // path only names the file in messages. Tags the container cannot hold are refused
    // here, before any sample. A set cancel flag ends a write waiting on a stream that takes
    // nothing, as ConversionCancelled.
    SoundFileWriter(int fd, Container container, AudioFormat format, std::filesystem::path path,
                    std::uint64_t expectedFrames, const SoundTags& tags = {},
                    const std::atomic<bool>* cancel = nullptr);
    ~SoundFileWriter();
    SoundFileWriter(SoundFileWriter&&) noexcept;
    SoundFileWriter& operator=(SoundFileWriter&&) noexcept;

    // An MP3 file's constant bit rate, in kb/s (LAME's variable rate otherwise): before any
    // sample.
    void setConstantBitrate(int kbps);
    // Any number of samples: the encoders are given them in bounded blocks.
    void write(std::span<const std::int16_t> monoSamples);
    // The chapters the finished file gets as cue points, each at its heading (headingFrame, a
    // frame of the sound written by close()), in the order given (see appendWaveCuePoints);
    // set at any time before close(). Only a plain wave file written into a regular file holds
    // them: other containers, RF64 and streams are written without.
    void setCuePoints(std::vector<ChapterTiming> chapters);
    // Completes the headers and closes the handle; the file descriptor stays open. A file of
    // no samples is first given the silence its container needs to be a file of it
    // (shortestSoundFrames).
    void close();
    std::uint64_t framesWritten() const { return frames_; }
    // Where in the file the next sample goes: of a mono 16-bit wave file, where each sample
    // lies as it was given, two bytes from the one before.
    std::uint64_t nextByte() const;

private:
    struct Deleter {
        void operator()(SNDFILE* file) const { sf_close(file); }
    };
    [[noreturn]] void fail(const std::string& reason) const;
    void writeBlock(std::span<const std::int16_t> monoSamples);
    void throwIfSinkFailed() const;
    void openThroughPipe(SF_INFO& info);
    void relayPipe();

    // Declared before the handle: the handle's last bytes go into them as it closes.
    std::unique_ptr<ByteSink> sink_;
    UniqueFd pipeRead_;
    UniqueFd pipeWrite_;
    std::unique_ptr<SNDFILE, Deleter> file_;
    int fd_;
    Container container_;
    const char* fileKind_;
    bool holdsCuePoints_ = false; // a plain wave file
    AudioFormat format_;
    std::filesystem::path path_;
    bool stereoMp3_ = false;
    std::vector<std::int16_t> interleaved_;
    std::vector<int> interleavedWide_;
    std::uint64_t frames_ = 0;
    std::uint64_t frameLimit_ = UINT64_MAX;
    std::vector<ChapterTiming> cuePoints_;
};

} // namespace kestrova::speech
