#pragma once

#include "speech/audio/mp4/aac_encoder_setup.h"
#include "speech/audio_format.h"
#include "speech/sound_tags.h"
#include "speech/speech_timings.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace kestrova::speech {

class AacStretches;
class Mp4FileIo;

// An audiobook file: AAC-LC from FFmpeg's own encoder in an iTunes MP4 (M4B, M4A), with its
// index at the front so a player can start before the whole file is read, and its chapters in
// both forms players read: the QuickTime chapter track and the Nero chapter list.
// The muxer writes the chapter track as it begins, while a chapter's place is known only once
// its sound is written: the encoded packets are first kept in the file itself, and the MP4 is
// made from them when the writer closes, after them in the same file, then moved to its start.
// So the file is a regular file (it is read back), and needs room for twice the AAC for a
// moment, no more memory than a few blocks.
// Every write is checked and its error kept: a failed one fails the writer, naming the file and
// the system's reason. A set cancel flag ends the writing at its next write, as
// ConversionCancelled. The same samples, tags and chapters give the same bytes: nothing of the
// clock or of FFmpeg's version is written.
// The encoding runs on threads of their own (AacStretches), stretches of the sound side by
// side, so that it overlaps the rendering and takes every core; a failure there reaches the
// caller at its next write() or close().
class Mp4AudioWriter {
public:
    // The most AAC carries at the format's rate, in kb/s: 6144 bits a frame of 1024 samples,
    // each channel.
    static int mostBitrateKbps(const AudioFormat& format);
    // 64 kb/s, or less where the format's rate carries less.
    static int defaultBitrateKbps(const AudioFormat& format) {
        return std::min(64, mostBitrateKbps(format));
    }
    // Throws FileError naming path for a bit rate past the most: FFmpeg would lower it unsaid.
    static void checkBitrate(const AudioFormat& format, int bitrateKbps,
                             const std::filesystem::path& path);

    // fd: a regular file, open for reading and writing. path names the file in messages; a
    // path ending in .m4b gets the audiobook brand.
    Mp4AudioWriter(int fd, AudioFormat format, std::filesystem::path path, SoundTags tags,
                   int bitrateKbps, const std::atomic<bool>* cancel = nullptr);
    // Stops the encoding threads still running, and waits for them.
    ~Mp4AudioWriter();
    // Not movable: the encoding threads hand their packets to this object.
    Mp4AudioWriter(Mp4AudioWriter&&) = delete;
    Mp4AudioWriter& operator=(Mp4AudioWriter&&) = delete;

    void write(std::span<const std::int16_t> monoSamples);
    // The chapters, in the order given, each titled with its title (an empty one too) from its
    // startFrame to the next one's startFrame, the last to the end of the sound: the chapter
    // track leaves no gap, so their endFrame, number and headingFrame are not used. Set at any
    // time before close().
    void setChapters(std::vector<ChapterTiming> chapters);
    // Makes the MP4 of the sound written, a sound of none filled out with silence
    // (shortestSoundFrames); the descriptor stays open.
    void close();
    std::uint64_t framesWritten() const { return frames_; }

private:
    struct FormatDeleter {
        void operator()(AVFormatContext* context) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };
    struct IoDeleter {
        void operator()(AVIOContext* io) const;
    };

    [[noreturn]] void fail(const std::string& reason) const;
    void check(int result, const char* doing) const;
    void openMuxer();
    void addCover(const CoverArt& cover);
    void writeCover(const CoverArt& cover);
    void placeChapters();
    void keepPackets(std::string_view packets);
    void finishEncoding();
    void muxKeptPackets(std::int64_t keptEnd);

    std::filesystem::path path_;
    AudioFormat format_;
    SoundTags tags_;
    // Declared before the contexts that write into them.
    std::unique_ptr<Mp4FileIo> file_;
    std::unique_ptr<AVIOContext, IoDeleter> io_;
    std::unique_ptr<AVFormatContext, FormatDeleter> muxer_;
    CodecContextHandle encoder_; // the stream's setup: every stretch's encoder has the same
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    int audioStream_ = 0;
    std::string keptBlock_; // encoded packets not yet written into the file
    const std::atomic<bool>* cancel_;
    // Last of what its threads use: destroyed, and so stopped, first.
    std::unique_ptr<AacStretches> stretches_;
    std::uint64_t frames_ = 0;
    std::vector<ChapterTiming> chapters_;
    bool open_ = false;
};

} // namespace kestrova::speech
