#include "speech/conversion/sound_outputs.h"

#include "speech/audio/containers/container_limits.h"
#include "speech/audio/output_files/pending_file.h"
#include "speech/conversion/request_rules.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <array>
#include <bit>

namespace kestrova::speech {

SoundOutputs::SoundOutputs(const ConversionRequest& request, const ChapterPlan& plan,
                           std::uint64_t expectedFrames, const std::atomic<bool>* cancel)
    : request_(request), plan_(plan), expectedFrames_(expectedFrames), cancel_(cancel) {
    if (chosenContainer(request) == Container::M4b)
        Mp4AudioWriter::checkBitrate(request.output.format,
                                     request.output.bitrateKbps.value_or(
                                         Mp4AudioWriter::defaultBitrateKbps(request.output.format)),
                                     request.output.path);
    // What the container cannot hold is cut or left out here, once, before any sound.
    tags_ = tagsFittedTo(chosenContainer(request), request.output.tags, request.output.path,
                         request.callbacks.warning);
    if (!request.chapters.split) {
        open(request.output.path, tags_);
    } else {
        // Every chapter's file is known now: one that cannot be written fails before any
        // sound.
        for (const std::filesystem::path& file : plan.files)
            OutputTarget::checkBeforehand(file, soundTargetOptions(request, nullptr));
    }
    startMeasuring();
}

std::optional<int> SoundOutputs::soundAsWritten() const {
    if (request_.chapters.split || files_.size() != 1 || secondPass_ || limiter_ ||
        std::endian::native != std::endian::little)
        return std::nullopt;
    const File& file = files_.front();
    if (!file.target.isFile() || file.target.container() != Container::Wave ||
        request_.output.format.bitsPerSample != 16 || request_.output.format.channels != 1)
        return std::nullopt;
    return file.target.fd();
}

std::uint64_t SoundOutputs::nextSoundByte() const {
    return std::get<SoundFileWriter>(files_.front().writer).nextByte();
}

void SoundOutputs::startMeasuring() {
    const Container container =
        files_.empty() ? chosenContainer(request_) : files_.front().target.container();
    const bool stereo = request_.output.format.channels == 2;
    if (request_.mastering.loudness.targetLufs) {
        secondPass_.emplace(request_, container, spoolFolder(request_.output.path, isFile()));
        return;
    }
    if (request_.mastering.loudness.measure)
        meter_.emplace(request_.output.format.sampleRate, stereo);
    if (const std::optional<double> threshold = limiterThresholdDb(request_, container)) {
        limiter_.emplace(1.0, gainOfDecibels(*threshold), request_.output.format.sampleRate);
        if (request_.mastering.loudness.measure)
            limitedMeter_.emplace(request_.output.format.sampleRate, stereo);
    }
}

void SoundOutputs::beginChapter(const ChapterTiming& chapter) {
    if (!request_.chapters.split)
        return;
    if (secondPass_ || limiter_) {
        chapterStarts_.push_back(chapter);
        chapterStarts_.back().startFrame = frames_;
    } else
        openChapter(chapter);
}

void SoundOutputs::openChapter(const ChapterTiming& chapter) {
    if (!files_.empty())
        setAside(files_.back());
    SoundTags tags = tags_;
    // AU and raw PCM hold no tags: their files go untitled.
    const Container container =
        request_.output.container.value_or(containerForPath(request_.output.path));
    if (!chapter.title.empty() && holdsTags(container))
        tags.title = chapter.title;
    // Only the files checked beforehand are written.
    const std::size_t index = files_.size();
    if (index >= plan_.files.size() || plan_.chapters[index].number != chapter.number ||
        plan_.chapters[index].title != chapter.title)
        throw FileError(inputFailure("read", request_.input.path,
                                     "its chapters changed while it was being converted"));
    open(plan_.files[index],
         tagsFittedTo(container, std::move(tags), plan_.files[index], request_.callbacks.warning));
    files_.back().chapterTitle = chapter.title;
    // An M4B file of one chapter holds that one chapter.
    if (auto* mp4 = std::get_if<Mp4Output>(&files_.back().writer)) {
        std::vector<ChapterTiming> only = {{.number = chapter.number, .title = chapter.title}};
        fitChapters(container, only, plan_.files[index], request_.callbacks.warning);
        mp4->setChapters(std::move(only));
    }
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
        throw FileError(outputFailure(request_.output.path, "no chapter to write the sound into",
                                      soundFileKind(chosenContainer(request_))));
    std::visit([samples](auto& writer) { writer.write(samples); }, files_.back().writer);
}

// Samples that were held back (kept for the second pass, or looked ahead of by the limiter)
// into the files, each chapter's file begun at the frame its chapter began at.
void SoundOutputs::deliver(std::span<const std::int16_t> samples) {
    if (limitedMeter_)
        limitedMeter_->add(samples);
    do {
        beginDueChapters();
        const std::uint64_t untilNext = nextChapter_ < chapterStarts_.size()
                                            ? chapterStarts_[nextChapter_].startFrame - delivered_
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
    while (nextChapter_ < chapterStarts_.size() &&
           chapterStarts_[nextChapter_].startFrame <= delivered_)
        openChapter(chapterStarts_[nextChapter_++]);
}

// Every sample held back, written: the second pass's, or the limiter's look-ahead.
void SoundOutputs::writeHeldBack(const std::function<void(double)>& passDone) {
    if (secondPass_) {
        loudness_ = secondPass_->replay(
            [this](std::span<const std::int16_t> samples) { deliver(samples); }, cancel_, passDone);
        secondPass_.reset();
    } else if (limiter_) {
        limited_.clear();
        limiter_->finish(limited_);
        deliver(limited_);
        loudness_ = LoudnessReport{
            .limitedSamples = limiter_->limitedSamples(),
            .limitedStretches = limiter_->limitedStretches(),
        };
        loudness_->ceilingDbtp =
            request_.mastering.loudness.truePeakDbtp.value_or(defaultTruePeakDbtp);
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
        writeSilence(silence.frames);
    }
    write(samples.subspan(written));
}

void SoundOutputs::writeSilence(std::uint64_t frames) {
    static constexpr std::array<std::int16_t, 8192> zeros{};
    for (std::uint64_t left = frames; left > 0;) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
        write(std::span<const std::int16_t>(zeros.data(), take));
        left -= take;
    }
}

void SoundOutputs::addChapters(const std::vector<ChapterTiming>& chapters) {
    if (request_.chapters.split || files_.empty())
        return;
    // An M4B file's chapters cover its sound: each from where its sound starts, the text
    // before the first heading included.
    File& file = files_.back();
    if (auto* mp4 = std::get_if<Mp4Output>(&file.writer)) {
        std::vector<ChapterTiming> all = chapters;
        fitChapters(file.target.container(), all, file.path, request_.callbacks.warning);
        mp4->setChapters(std::move(all));
        return;
    }
    std::vector<ChapterTiming> headings;
    chapters_.clear();
    for (const ChapterTiming& chapter : chapters) {
        if (chapter.number > 0)
            headings.push_back(chapter);
        // Chapters left out of the rendering have no sound.
        if (chapter.endFrame > chapter.startFrame)
            chapters_.push_back(chapter);
    }
    fitEditedChapters(file, chapters_);
    if (!headings.empty())
        std::get<SoundFileWriter>(file.writer).setCuePoints(std::move(headings));
}

void SoundOutputs::commit(const std::function<void(double)>& passDone) {
    writeHeldBack(passDone);
    // A text without a sound still gets its one file.
    if (request_.chapters.split && files_.empty())
        openChapter({});
    if (!request_.chapters.split) {
        for (File& file : files_) {
            close(file.writer);
            embedTags(file, chapters_);
            file.target.commit(request_.output.replaceExisting, request_.output.syncToDisk);
        }
        return;
    }
    // Every chapter complete, then all named together.
    setAside(files_.back());
    std::vector<PendingFile*> pending;
    for (File& file : files_)
        if (PendingFile* parked = file.target.pendingFile())
            pending.push_back(parked);
    PendingFile::nameTogether(pending, request_.output.replaceExisting, request_.output.syncToDisk,
                              cancel_);
}

std::vector<std::filesystem::path> SoundOutputs::paths() const {
    std::vector<std::filesystem::path> paths;
    if (request_.chapters.split)
        for (const File& file : files_)
            paths.push_back(file.path);
    return paths;
}

// A chapter's file holds its one chapter, named by its heading: the text before the first
// heading, which has none, holds no chapter.
void SoundOutputs::setAside(File& file) const {
    close(file.writer);
    const std::uint64_t frames =
        std::visit([](const auto& writer) { return writer.framesWritten(); }, file.writer);
    std::vector<ChapterTiming> chapters;
    if (!file.chapterTitle.empty())
        chapters.push_back({.title = file.chapterTitle, .endFrame = frames});
    fitEditedChapters(file, chapters);
    embedTags(file, chapters);
    file.target.park(request_.output.syncToDisk);
}

void SoundOutputs::fitEditedChapters(const File& file, std::vector<ChapterTiming>& chapters) const {
    if (file.target.isFile() &&
        editedThroughTagLibrary(file.target.container(), file.tags, !chapters.empty()))
        fitChapters(file.target.container(), chapters, file.path, request_.callbacks.warning);
}

SoundTags SoundOutputs::writerTags(const OutputTarget& target, const SoundTags& tags) {
    if (target.isFile() && containerRow(target.container()).tagLibEdits.replacesEncoderTags)
        return {};
    return tags;
}

// An M4B writer puts its own tags, cover and chapters in as it completes the file.
void SoundOutputs::embedTags(File& file, std::span<const ChapterTiming> chapters) const {
    if (!file.target.isFile() || !std::holds_alternative<SoundFileWriter>(file.writer))
        return;
    writeEmbeddedTags(file.target.fd(), file.target.container(), file.tags, chapters,
                      request_.output.format.sampleRate, file.path, cancel_);
}

void SoundOutputs::open(const std::filesystem::path& path, const SoundTags& tags) {
    File& file = files_.emplace_back(path, request_, expectedFrames_, tags, cancel_);
    // Only a complete file can be given a picture.
    if (tags.cover && (!containerRow(file.target.container()).holdsCover || !file.target.isFile()))
        throw FileError(outputFailure(path,
                                      "a cover is written into a file of a type that holds tags, "
                                      "not into a stream or device",
                                      soundFileKind(file.target.container())));
}

SoundOutputs::SoundWriter
SoundOutputs::openWriter(const OutputTarget& target, const ConversionRequest& request,
                         const std::filesystem::path& path, std::uint64_t expectedFrames,
                         const SoundTags& tags, const std::atomic<bool>* cancel) {
    if (containerRow(target.container()).bySndfile) {
        SoundWriter writer(std::in_place_type<SoundFileWriter>, target.fd(), target.container(),
                           request.output.format, path, expectedFrames, writerTags(target, tags),
                           cancel);
        if (target.container() == Container::Mp3 && request.output.bitrateKbps)
            std::get<SoundFileWriter>(writer).setConstantBitrate(*request.output.bitrateKbps);
        return writer;
    }
    const int bitrateKbps = request.output.bitrateKbps.value_or(
        Mp4AudioWriter::defaultBitrateKbps(request.output.format));
    return SoundWriter(std::in_place_type<Mp4Output>,
                       Mp4WriterArguments{.fd = target.fd(),
                                          .format = request.output.format,
                                          .path = path,
                                          .tags = tags,
                                          .bitrateKbps = bitrateKbps,
                                          .cancel = cancel});
}

void SoundOutputs::close(SoundWriter& writer) {
    std::visit([](auto& opened) { opened.close(); }, writer);
}

} // namespace kestrova::speech
