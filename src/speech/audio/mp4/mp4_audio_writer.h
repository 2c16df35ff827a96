#pragma once

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
#include <thread>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;

namespace kestrova::speech {

class Mp4FileIo;
class Mp4FrameQueue;

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
// The encoding runs on a thread of its own, so that it overlaps the rendering: write() hands
// blocks of whole frames over, in order, through a bounded queue, and a failure there reaches the
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
    // Stops the encoding thread, if still running, and waits for it.
    ~Mp4AudioWriter();
    // Not movable: the encoding thread works on this object.
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
    struct CodecDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };
    struct IoDeleter {
        void operator()(AVIOContext* io) const;
    };

    [[noreturn]] void fail(const std::string& reason) const;
    void check(int result, const char* doing) const;
    void openEncoder(int bitrateKbps);
    void openMuxer();
    void addCover(const CoverArt& cover);
    void writeCover(const CoverArt& cover);
    void placeChapters();
    void encodeFrames(std::span<const float> samples);
    void encodeFrame(std::span<const float> samples);
    void encodeHandedOver();
    void finishEncoding();
    void sendToEncoder(const AVFrame* frame);
    void muxKeptPackets(std::int64_t keptEnd);

    std::filesystem::path path_;
    AudioFormat format_;
    SoundTags tags_;
    // Declared before the contexts that write into them.
    std::unique_ptr<Mp4FileIo> file_;
    std::unique_ptr<AVIOContext, IoDeleter> io_;
    std::unique_ptr<AVFormatContext, FormatDeleter> muxer_;
    std::unique_ptr<AVCodecContext, CodecDeleter> encoder_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    int audioStream_ = 0;
    std::string keptBlock_; // encoded packets not yet written into the file
    const std::atomic<bool>* cancel_;
    std::vector<float> pending_; // samples short of a block to hand over
    // Read here only, not in the encoder, which the encoding thread is using meanwhile.
    std::size_t blockSamples_ = 0;
    std::unique_ptr<Mp4FrameQueue> handover_;
    std::thread encoding_;
    std::uint64_t frames_ = 0;
    std::int64_t encodedFrames_ = 0;
    std::vector<ChapterTiming> chapters_;
    bool open_ = false;
};

} // namespace kestrova::speech
