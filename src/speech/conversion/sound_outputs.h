#pragma once

#include "speech/audio/mp4/mp4_audio_writer.h"
#include "speech/audio/mp4/mp4_output.h"
#include "speech/audio/output_files/output_target.h"
#include "speech/audio/processing/true_peak_limiter.h"
#include "speech/audio/sndfile/sound_file_writer.h"
#include "speech/audio/tags/embedded_tags.h"
#include "speech/conversion/loudness/loudness_pass.h"
#include "speech/conversion/request_rules.h"
#include "speech/converter.h"
#include "speech/render/render_pipeline.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace kestrova::speech {

// Where the sound goes: one file, or with split chapters one file per chapter, each begun
// when its chapter's first sound arrives and all named only when the last is complete.
// With a second pass (LoudnessPass) the sound is kept until commit(), which writes it; with
// a ceiling alone it goes through the true-peak limiter, which holds back its look-ahead
// until commit(). Either way each chapter's file begins at the frame its chapter began at.
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
    // Digital silence, in blocks.
    void writeSilence(std::uint64_t frames);
    std::uint64_t frames() const { return frames_; }

    // The chapters of the one file, set before commit(): cue points in a wave file, and
    // inside MP3, FLAC, Ogg Vorbis and Opus files (not streams, which cannot be edited).
    void addChapters(const std::vector<ChapterTiming>& chapters);
    // passDone: how much of the second pass is done, 0 to 1, as it goes.
    void commit(const std::function<void(double)>& passDone = {});

    bool isFile() const { return files_.empty() || files_.front().target.isFile(); }
    // The one pending file the sound goes into, when it holds each sample as it is written
    // (a mono 16-bit wave file, with no second pass or limiter between), so that the chunks
    // kept for a resume may be kept in it; none otherwise.
    std::optional<int> soundAsWritten() const;
    // Where the next sample goes in that file.
    std::uint64_t nextSoundByte() const;
    std::vector<std::filesystem::path> paths() const;
    // Once committed, when the loudness was measured.
    const std::optional<LoudnessReport>& loudness() const { return loudness_; }

private:
    // libsndfile's containers, or M4B through FFmpeg.
    using SoundWriter = std::variant<SoundFileWriter, Mp4Output>;
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
    void embedTags(File& file, std::span<const ChapterTiming> chapters) const;
    // The chapters TagLib will edit into a complete file, fitted to its container's limits.
    void fitEditedChapters(const File& file, std::vector<ChapterTiming>& chapters) const;
    // A chapter's file once complete: closed, holding no descriptor until it is named.
    void setAside(File& file) const;
    void open(const std::filesystem::path& path, const SoundTags& tags);
    void openChapter(const ChapterTiming& chapter);
    void writeToFile(std::span<const std::int16_t> samples);
    void startMeasuring();
    void deliver(std::span<const std::int16_t> samples);
    void beginDueChapters();
    void writeHeldBack(const std::function<void(double)>& passDone);

    const ConversionRequest& request_;
    const ChapterPlan& plan_;
    std::uint64_t expectedFrames_;
    const std::atomic<bool>* cancel_;
    // The request's tags as the container holds them.
    SoundTags tags_;
    std::deque<File> files_;
    std::uint64_t frames_ = 0;
    std::vector<ChapterTiming> chapters_;
    // With a loudness target: everything kept for the second pass.
    std::optional<LoudnessPass> secondPass_;
    // Without one, with a ceiling: the true peaks held as the sound is written.
    std::optional<TruePeakLimiter> limiter_;
    std::vector<std::int16_t> limited_;
    std::optional<LoudnessMeter> meter_;        // --measure: the rendered sound
    std::optional<LoudnessMeter> limitedMeter_; // --measure: what the limiter wrote
    // Split, with samples held back: the chapters, each with its startFrame where its file
    // begins, and how far the files have got.
    std::vector<ChapterTiming> chapterStarts_;
    std::size_t nextChapter_ = 0;
    std::uint64_t delivered_ = 0;
    std::optional<LoudnessReport> loudness_;
};

} // namespace kestrova::speech
