#pragma once

#include "speech/audio/embedded_tags.h"
#include "speech/audio/mp4_audio_writer.h"
#include "speech/audio/output_target.h"
#include "speech/audio/sound_file_writer.h"
#include "speech/conversion/request_rules.h"
#include "speech/converter.h"
#include "speech/render/render_pipeline.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <span>
#include <variant>
#include <vector>

namespace kestrova::speech {

// Where the sound goes: one file, or with split chapters one file per chapter, each begun
// when its chapter's first sound arrives and all named only when the last is complete.
class SoundOutputs {
public:
    SoundOutputs(const ConversionRequest& request, const ChapterPlan& plan,
                 std::uint64_t expectedFrames, const std::atomic<bool>* cancel);

    // Starts the file of a chapter; its frames count from here.
    void beginChapter(const ChapterTiming& chapter);

    void write(std::span<const std::int16_t> samples);
    // A chunk's samples with its pauses in their places, each pause written as blocks of
    // zeros: however long, it never stands in memory whole.
    void write(const RenderedChunk& chunk);
    std::uint64_t frames() const { return frames_; }

    // The chapters of the one file, set before commit(): cue points in a wave file, and
    // inside MP3, FLAC, Ogg Vorbis and Opus files (not streams, which cannot be edited).
    void addChapters(const std::vector<ChapterTiming>& chapters);
    void commit();

    bool isFile() const { return files_.empty() || files_.front().target.isFile(); }
    std::vector<std::filesystem::path> paths() const;

private:
    // libsndfile's containers, or M4B through FFmpeg.
    using SoundWriter = std::variant<SoundFileWriter, Mp4AudioWriter>;
    static SoundWriter openWriter(const OutputTarget& target, const ConversionRequest& request,
                                  const std::filesystem::path& path, std::uint64_t expectedFrames,
                                  const SoundTags& tags, const std::atomic<bool>* cancel);
    static void close(SoundWriter& writer);

    // Must not move, as its pending file cannot: the deque below never moves its elements.
    struct File {
        File(const std::filesystem::path& path, const ConversionRequest& request,
             std::uint64_t expectedFrames, const SoundTags& tags, const std::atomic<bool>* cancel)
            : path(path), target(path, soundTargetOptions(request, cancel)),
              writer(openWriter(target, request, path, expectedFrames, tags, cancel)), tags(tags) {}

        std::filesystem::path path;
        OutputTarget target;
        SoundWriter writer;
        SoundTags tags;
        std::string chapterTitle; // split: its chapter's heading
    };

    // The tags libsndfile writes as it encodes: an MP3 file gets all of its own through
    // TagLib once complete (ID3v2.4, UTF-8), an MP3 stream LAME's Latin-1 ones.
    static SoundTags writerTags(const OutputTarget& target, const SoundTags& tags);
    // The complete file's tags, cover and chapters edited in, where its container needs it.
    void embedTags(File& file, std::span<const EmbeddedChapter> chapters) const;
    // A chapter's file once complete: closed, holding no descriptor until it is named.
    void setAside(File& file) const;
    void open(const std::filesystem::path& path, const SoundTags& tags);

    const ConversionRequest& request_;
    const ChapterPlan& plan_;
    std::uint64_t expectedFrames_;
    const std::atomic<bool>* cancel_;
    std::deque<File> files_;
    std::uint64_t frames_ = 0;
    std::vector<EmbeddedChapter> chapters_;
};

} // namespace kestrova::speech
