#include "speech/conversion/sound_outputs.h"

#include "speech/audio/pending_file.h"
#include "speech/conversion/request_rules.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <array>

namespace kestrova::speech {

SoundOutputs::SoundOutputs(const ConversionRequest& request, const ChapterPlan& plan,
                           std::uint64_t expectedFrames, const std::atomic<bool>* cancel)
    : request_(request), plan_(plan), expectedFrames_(expectedFrames), cancel_(cancel) {
    if (request.splitChapters && request.toStandardOutput)
        throw FileError(outputFailure(request.output,
                                      "chapters split into files cannot go to a stream",
                                      soundFileKind(chosenContainer(request))));
    if (request.splitChapters && request.controls.ssml)
        throw SpeechError("chapters are found in plain text only, not in SSML");
    if (!request.splitChapters) {
        open(request.output, request.tags);
    } else {
        // Every chapter's file is known now: one that cannot be written fails before any
        // sound.
        for (const std::filesystem::path& file : plan.files)
            OutputTarget::checkBeforehand(file, soundTargetOptions(request, nullptr));
    }
    startMeasuring();
}

void SoundOutputs::startMeasuring() {
    const Container container =
        files_.empty() ? chosenContainer(request_) : files_.front().target.container();
    const bool stereo = request_.format.channels == 2;
    if (request_.loudness.targetLufs) {
        secondPass_.emplace(request_, container, spoolFolder(request_.output, isFile()));
        return;
    }
    if (request_.loudness.measure)
        meter_.emplace(request_.format.sampleRate, stereo);
    if (const std::optional<double> threshold = limiterThresholdDb(request_, container)) {
        limiter_.emplace(1.0, gainOfDecibels(*threshold), request_.format.sampleRate);
        if (request_.loudness.measure)
            limitedMeter_.emplace(request_.format.sampleRate, stereo);
    }
}

void SoundOutputs::beginChapter(const ChapterTiming& chapter) {
    if (!request_.splitChapters)
        return;
    if (secondPass_ || limiter_)
        chapterStarts_.push_back({.frame = frames_, .chapter = chapter});
    else
        openChapter(chapter);
}

void SoundOutputs::openChapter(const ChapterTiming& chapter) {
    if (!files_.empty())
        setAside(files_.back());
    SoundTags tags = request_.tags;
    // AU and raw PCM hold no tags: their files go untitled.
    const Container container = request_.container.value_or(containerForPath(request_.output));
    if (!chapter.title.empty() && holdsTags(container))
        tags.title = chapter.title;
    // Only the files checked beforehand are written.
    const std::size_t index = files_.size();
    if (index >= plan_.files.size() || plan_.chapters[index].number != chapter.number ||
        plan_.chapters[index].title != chapter.title)
        throw FileError(inputFailure("read", request_.input,
                                     "its chapters changed while it was being converted"));
    open(plan_.files[index], tags);
}

void SoundOutputs::write(std::span<const std::int16_t> samples) {
    if (meter_)
        meter_->add(samples);
    if (secondPass_) {
        secondPass_->add(samples);
    } else if (limiter_) {
        limited_.clear();
        limiter_->add(samples, limited_);
        deliver(limited_);
    } else {
        writeToFile(samples);
    }
    frames_ += samples.size();
}

void SoundOutputs::writeToFile(std::span<const std::int16_t> samples) {
    if (files_.empty()) // split, and sound before any chapter: cannot happen with text
        throw FileError(outputFailure(request_.output, "no chapter to write the sound into",
                                      soundFileKind(chosenContainer(request_))));
    files_.back().writer.write(samples);
}

// Samples that were held back (kept for the second pass, or looked ahead of by the limiter)
// into the files, each chapter's file begun at the frame its chapter began at.
void SoundOutputs::deliver(std::span<const std::int16_t> samples) {
    if (limitedMeter_)
        limitedMeter_->add(samples);
    do {
        beginDueChapters();
        const std::uint64_t untilNext = nextChapter_ < chapterStarts_.size()
                                            ? chapterStarts_[nextChapter_].frame - delivered_
                                            : samples.size();
        const auto take =
            static_cast<std::size_t>(std::min<std::uint64_t>(untilNext, samples.size()));
        if (take > 0)
            writeToFile(samples.first(take));
        delivered_ += take;
        samples = samples.subspan(take);
    } while (!samples.empty());
}

void SoundOutputs::beginDueChapters() {
    while (nextChapter_ < chapterStarts_.size() && chapterStarts_[nextChapter_].frame <= delivered_)
        openChapter(chapterStarts_[nextChapter_++].chapter);
}

// Every sample held back, written: the second pass's, or the limiter's look-ahead.
void SoundOutputs::writeHeldBack() {
    if (secondPass_) {
        loudness_ = secondPass_->replay(
            [this](std::span<const std::int16_t> samples) { deliver(samples); }, cancel_);
        secondPass_.reset();
    } else if (limiter_) {
        limited_.clear();
        limiter_->finish(limited_);
        deliver(limited_);
        loudness_ = LoudnessReport{
            .limitedSamples = limiter_->limitedSamples(),
            .limitedStretches = limiter_->limitedStretches(),
        };
        loudness_->ceilingDbtp = request_.loudness.truePeakDbtp.value_or(defaultTruePeakDbtp);
        if (limitedMeter_)
            loudness_->after = limitedMeter_->measure();
        limiter_.reset();
    }
    beginDueChapters();
    if (meter_) {
        if (!loudness_)
            loudness_.emplace();
        loudness_->before = meter_->measure();
    }
}

void SoundOutputs::write(const RenderedChunk& chunk) {
    const std::span<const std::int16_t> samples(chunk.samples);
    std::size_t written = 0;
    for (const RenderedChunk::Silence& silence : chunk.silences) {
        write(samples.subspan(written, silence.before - written));
        written = silence.before;
        static constexpr std::array<std::int16_t, 8192> zeros{};
        for (std::uint64_t left = silence.frames; left > 0;) {
            const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
            write(std::span<const std::int16_t>(zeros.data(), take));
            left -= take;
        }
    }
    write(samples.subspan(written));
}

void SoundOutputs::addCuePoints(const std::vector<ChapterTiming>& chapters) {
    if (request_.splitChapters || files_.empty())
        return;
    std::vector<CuePoint> points;
    for (const ChapterTiming& chapter : chapters)
        if (chapter.number > 0)
            points.push_back({.name = chapter.title, .frame = chapter.headingFrame});
    if (!points.empty())
        files_.back().writer.setCuePoints(std::move(points));
}

void SoundOutputs::commit() {
    writeHeldBack();
    // A text without a sound still gets its one file.
    if (request_.splitChapters && files_.empty())
        openChapter({});
    if (!request_.splitChapters) {
        for (File& file : files_) {
            file.writer.close();
            file.target.commit(request_.replaceExisting, request_.syncToDisk);
        }
        return;
    }
    // Every chapter complete, then all named together.
    setAside(files_.back());
    std::vector<PendingFile*> pending;
    for (File& file : files_)
        if (PendingFile* parked = file.target.pendingFile())
            pending.push_back(parked);
    PendingFile::nameTogether(pending, request_.replaceExisting, request_.syncToDisk, cancel_);
}

std::vector<std::filesystem::path> SoundOutputs::paths() const {
    std::vector<std::filesystem::path> paths;
    if (request_.splitChapters)
        for (const File& file : files_)
            paths.push_back(file.path);
    return paths;
}

void SoundOutputs::setAside(File& file) const {
    file.writer.close();
    file.target.park(request_.syncToDisk);
}

void SoundOutputs::open(const std::filesystem::path& path, const SoundTags& tags) {
    files_.emplace_back(path, request_, expectedFrames_, tags, cancel_);
}

} // namespace kestrova::speech
