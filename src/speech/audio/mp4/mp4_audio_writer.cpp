#include "mp4_audio_writer.h"

#include "aac_stretches.h"
#include "mp4_file_io.h"
#include "speech/ascii.h"
#include "speech/audio/containers/container_limits.h"
#include "speech/base/utf8.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestrova::speech {

namespace {

// FFmpeg's own messages would land on the program's standard error beside its own: every
// failure reaches the writer as a code, and is reported there.
void silenceFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

void addChapter(AVFormatContext* muxer, AVRational timeBase, std::int64_t start, std::int64_t end,
                const std::string& title) {
    auto* grown = static_cast<AVChapter**>(
        av_realloc_array(muxer->chapters, muxer->nb_chapters + 1, sizeof(AVChapter*)));
    if (grown == nullptr)
        throw std::bad_alloc();
    muxer->chapters = grown;
    auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (chapter == nullptr)
        throw std::bad_alloc();
    muxer->chapters[muxer->nb_chapters] = chapter;
    chapter->id = muxer->nb_chapters++;
    chapter->time_base = timeBase;
    chapter->start = start;
    chapter->end = end;
    if (av_dict_set(&chapter->metadata, "title", title.c_str(), 0) < 0)
        throw std::bad_alloc();
}

bool endsWithM4b(const std::filesystem::path& path) {
    return lowerCaseEnding(path) == ".m4b";
}

} // namespace

void Mp4AudioWriter::FormatDeleter::operator()(AVFormatContext* context) const {
    avformat_free_context(context);
}
void Mp4AudioWriter::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}
void Mp4AudioWriter::IoDeleter::operator()(AVIOContext* io) const {
    freeIoContext(io);
}

Mp4AudioWriter::Mp4AudioWriter(int fd, AudioFormat format, std::filesystem::path path,
                               SoundTags tags, int bitrateKbps, const std::atomic<bool>* cancel)
    : path_(std::move(path)), format_(format), tags_(std::move(tags)),
      file_(std::make_unique<Mp4FileIo>(fd, cancel)), cancel_(cancel) {
    silenceFfmpegLog();
    checkBitrate(format, bitrateKbps, path_);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        fail("an M4B file is written into a regular file only: it is read back as it is "
             "completed");
    packet_.reset(av_packet_alloc());
    if (!packet_)
        throw std::bad_alloc();
    const AacSettings settings{
        .format = format_, .bitrateKbps = bitrateKbps, .path = path_, .cancel = cancel_};
    encoder_ = openAacEncoder(settings);
    stretches_ =
        std::make_unique<AacStretches>(settings, static_cast<std::size_t>(encoder_->frame_size),
                                       [this](std::string_view packets) { keepPackets(packets); });
    open_ = true;
}

Mp4AudioWriter::~Mp4AudioWriter() = default;

void Mp4AudioWriter::fail(const std::string& reason) const {
    throw FileError(outputFailure(path_, reason, soundFileKind(Container::M4b)));
}

// The file's own failure first: FFmpeg reports a failed write only as a code of its own.
void Mp4AudioWriter::check(int result, const char* doing) const {
    if (file_->cancelled())
        throw ConversionCancelled(
            outputFailure(path_, "the conversion was cancelled", soundFileKind(Container::M4b)));
    if (file_->error() != 0)
        fail(std::strerror(file_->error()));
    if (result < 0)
        fail(std::string(doing) + ": " + ffmpegReason(result));
}

// The iPod flavour of MP4 is what audiobook players read: its brand, its tags and both kinds
// of chapters. Its chapter track is written as it begins: the chapters are in place by then.
void Mp4AudioWriter::openMuxer() {
    AVFormatContext* muxer = nullptr;
    check(avformat_alloc_output_context2(&muxer, nullptr, "ipod", path_.c_str()),
          "this FFmpeg has no MP4 muxer");
    muxer_.reset(muxer);
    io_.reset(newIoContext(*file_, true));
    muxer_->pb = io_.get();
    muxer_->opaque = file_.get();
    muxer_->io_open = openForReading;
    muxer_->io_close2 = closeReading;
    muxer_->flags |= AVFMT_FLAG_BITEXACT | AVFMT_FLAG_CUSTOM_IO;
    AVStream* audio = avformat_new_stream(muxer_.get(), nullptr);
    if (audio == nullptr)
        throw std::bad_alloc();
    audioStream_ = audio->index;
    audio->time_base = encoder_->time_base;
    check(avcodec_parameters_from_context(audio->codecpar, encoder_.get()), "no memory");
    if (tags_.cover)
        addCover(*tags_.cover);
    const std::pair<const char*, const std::optional<std::string>*> fields[] = {
        {"title", &tags_.title}, {"artist", &tags_.artist}, {"album", &tags_.album},
        {"date", &tags_.date},   {"genre", &tags_.genre},   {"comment", &tags_.comment},
        {"track", &tags_.track}};
    for (const auto& [key, value] : fields)
        if (*value)
            check(av_dict_set(&muxer_->metadata, key, (*value)->c_str(), 0), "no memory");
    placeChapters();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    if (endsWithM4b(path_))
        av_dict_set(&options, "brand", "M4B ", 0);
    const int result = avformat_write_header(muxer_.get(), &options);
    av_dict_free(&options);
    check(result, "cannot begin the file");
    if (tags_.cover)
        writeCover(*tags_.cover);
}

void Mp4AudioWriter::addCover(const CoverArt& cover) {
    AVStream* picture = avformat_new_stream(muxer_.get(), nullptr);
    if (picture == nullptr)
        throw std::bad_alloc();
    picture->disposition = AV_DISPOSITION_ATTACHED_PIC;
    picture->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    picture->codecpar->codec_id =
        cover.mediaType == "image/png" ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG;
    // FFmpeg takes no picture stream without a size; an MP4 cover is its bytes alone (the
    // "covr" tag), where no size is written: any will do.
    picture->codecpar->width = 1;
    picture->codecpar->height = 1;
}

// An attached picture is one packet: the muxer's cover.
void Mp4AudioWriter::writeCover(const CoverArt& cover) {
    check(av_new_packet(packet_.get(), static_cast<int>(cover.bytes.size())), "no memory");
    std::memcpy(packet_->data, cover.bytes.data(), cover.bytes.size());
    packet_->stream_index = audioStream_ + 1;
    packet_->flags |= AV_PKT_FLAG_KEY;
    const int result = av_write_frame(muxer_.get(), packet_.get());
    av_packet_unref(packet_.get());
    check(result, "cannot write the cover");
}

void Mp4AudioWriter::write(std::span<const std::int16_t> monoSamples) {
    stretches_->write(monoSamples);
    frames_ += monoSamples.size();
}

namespace {

constexpr std::size_t keptBlockBytes = 1 << 16;

} // namespace

// The packets are kept, in blocks, after those before.
void Mp4AudioWriter::keepPackets(std::string_view packets) {
    keptBlock_ += packets;
    if (keptBlock_.size() >= keptBlockBytes) {
        file_->append(keptBlock_);
        keptBlock_.clear();
        check(0, "");
    }
}

// Every stretch encoded and every packet kept: from here on the writer alone uses the file.
void Mp4AudioWriter::finishEncoding() {
    stretches_->finish();
    file_->append(keptBlock_);
    keptBlock_.clear();
    check(0, "");
}

// Each kept packet, in order, into the muxer.
void Mp4AudioWriter::muxKeptPackets(std::int64_t keptEnd) {
    const AVRational streamTime = muxer_->streams[audioStream_]->time_base;
    for (std::int64_t at = 0; at < keptEnd;) {
        KeptPacket kept;
        if (file_->readKept(at, reinterpret_cast<char*>(&kept), sizeof kept) != sizeof kept ||
            kept.size < 0)
            check(AVERROR_INVALIDDATA, "its sound was changed while it was written");
        at += static_cast<std::int64_t>(sizeof kept);
        check(av_new_packet(packet_.get(), kept.size), "no memory");
        const auto size = static_cast<std::size_t>(kept.size);
        if (file_->readKept(at, reinterpret_cast<char*>(packet_->data), size) != size)
            check(AVERROR_INVALIDDATA, "its sound was changed while it was written");
        at += kept.size;
        packet_->pts = kept.pts;
        packet_->dts = kept.dts;
        packet_->duration = kept.duration;
        packet_->flags = kept.flags;
        packet_->stream_index = audioStream_;
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, streamTime);
        const int written = av_write_frame(muxer_.get(), packet_.get());
        av_packet_unref(packet_.get());
        check(written, "cannot write the sound");
    }
}

void Mp4AudioWriter::setChapters(std::vector<ChapterTiming> chapters) {
    chapters_ = std::move(chapters);
}

// Each chapter runs to the next one's start, the last to the end of the sound. FFmpeg writes a
// title's length in 16 bits in the chapter track and cuts it at 255 bytes in the Nero list,
// where a character may be cut: every title is cut at a character boundary to fit both.
void Mp4AudioWriter::placeChapters() {
    const auto end = static_cast<std::int64_t>(frames_);
    for (std::size_t i = 0; i < chapters_.size(); ++i) {
        const auto start = static_cast<std::int64_t>(chapters_[i].startFrame);
        const std::int64_t next =
            i + 1 < chapters_.size() ? static_cast<std::int64_t>(chapters_[i + 1].startFrame) : end;
        const std::string& title = chapters_[i].title;
        addChapter(muxer_.get(), encoder_->time_base, start, std::max(next, start),
                   title.substr(0, characterCut(title, mp4ChapterTitleBytes)));
    }
}

void Mp4AudioWriter::close() {
    if (!open_)
        return;
    if (std::any_of(chapters_.begin(), chapters_.end(),
                    [this](const ChapterTiming& chapter) { return chapter.startFrame > frames_; }))
        throw std::logic_error("a chapter lies beyond the end of the sound");
    // Without a packet the muxer writes no audio track.
    if (frames_ == 0)
        write(std::vector<std::int16_t>(shortestSoundFrames(Container::M4b, format_.sampleRate)));
    finishEncoding();
    const std::int64_t keptEnd = file_->written();
    file_->beginMuxingAfter(keptEnd);
    openMuxer();
    muxKeptPackets(keptEnd);
    check(av_write_trailer(muxer_.get()), "cannot complete the file");
    avio_flush(io_.get());
    check(0, "");
    file_->moveToStart();
    check(0, "");
    open_ = false;
}

} // namespace kestrova::speech
