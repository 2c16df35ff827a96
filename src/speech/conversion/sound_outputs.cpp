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
    if (takesSecondPass(request_, container))
        secondPass_.emplace(request_, container, spoolFolder(request_.output, isFile()));
    else if (request_.loudness.measure)
        meter_.emplace(request_.format.sampleRate, request_.format.channels == 2);
}

void SoundOutputs::beginChapter(const ChapterTiming& chapter) {
    if (!request_.splitChapters)
        return;
    if (secondPass_)
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
    if (secondPass_ && !(request_.splitChapters && chapterStarts_.empty())) {
        secondPass_->add(samples);
    } else {
        writeToFile(samples);
        if (meter_)
            meter_->add(samples);
    }
    frames_ += samples.size();
}

void SoundOutputs::writeToFile(std::span<const std::int16_t> samples) {
    if (files_.empty()) // split, and sound before any chapter: cannot happen with text
        throw FileError(outputFailure(request_.output, "no chapter to write the sound into",
                                      soundFileKind(chosenContainer(request_))));
    files_.back().writer.write(samples);
}

// Every sample kept, into the files, each chapter's file begun where its chapter began.
void SoundOutputs::writeSecondPass() {
    std::size_t next = 0;
    std::uint64_t frame = 0;
    const auto beginDue = [&] {
        while (next < chapterStarts_.size() && chapterStarts_[next].frame <= frame)
            openChapter(chapterStarts_[next++].chapter);
    };
    loudness_ = secondPass_->replay(
        [&](std::span<const std::int16_t> samples) {
            while (!samples.empty()) {
                beginDue();
                const std::uint64_t untilNext = next < chapterStarts_.size()
                                                    ? chapterStarts_[next].frame - frame
                                                    : samples.size();
                const std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(untilNext, samples.size()));
                writeToFile(samples.first(take));
                frame += take;
                samples = samples.subspan(take);
            }
        },
        cancel_);
    beginDue();
    secondPass_.reset();
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
    if (secondPass_)
        writeSecondPass();
    if (meter_)
        loudness_ = LoudnessReport{.before = meter_->measure()};
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
