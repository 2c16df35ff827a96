#include "mp4_audio_writer.h"

#include "mp4_file_io.h"
#include "speech/ascii.h"
#include "speech/audio/containers/container_limits.h"
#include "speech/base/block_handover.h"
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

// Blocks of whole frames from the writer to its encoding thread.
class Mp4FrameQueue : public BlockHandover<std::vector<float>> {
public:
    static constexpr std::size_t framesInBlock = 16; // about 0.75 s of sound at 22.05 kHz
    Mp4FrameQueue() : BlockHandover(4) {}            // blocks: a quarter MB
};

namespace {

// FFmpeg's own messages would land on the program's standard error beside its own: every
// failure reaches the writer as a code, and is reported there.
void silenceFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string ffmpegReason(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
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
void Mp4AudioWriter::CodecDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void Mp4AudioWriter::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
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
      file_(std::make_unique<Mp4FileIo>(fd, cancel)), cancel_(cancel),
      handover_(std::make_unique<Mp4FrameQueue>()) {
    silenceFfmpegLog();
    checkBitrate(format, bitrateKbps, path_);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        fail("an M4B file is written into a regular file only: it is read back as it is "
             "completed");
    packet_.reset(av_packet_alloc());
    if (!packet_)
        throw std::bad_alloc();
    openEncoder(bitrateKbps);
    blockSamples_ = static_cast<std::size_t>(encoder_->frame_size) * Mp4FrameQueue::framesInBlock;
    pending_.reserve(blockSamples_);
    encoding_ = std::thread([this] { encodeHandedOver(); });
    open_ = true;
}

Mp4AudioWriter::~Mp4AudioWriter() {
    if (encoding_.joinable()) {
        handover_->stop();
        encoding_.join();
    }
}

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

void Mp4AudioWriter::openEncoder(int bitrateKbps) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (codec == nullptr)
        fail("this FFmpeg has no AAC encoder");
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_)
        throw std::bad_alloc();
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder_->sample_rate = format_.sampleRate;
    av_channel_layout_default(&encoder_->ch_layout, format_.channels);
    encoder_->bit_rate = static_cast<std::int64_t>(bitrateKbps) * 1000;
    encoder_->profile = FF_PROFILE_AAC_LOW;
    encoder_->time_base = AVRational{1, format_.sampleRate};
    // The MP4 muxer takes the decoder's setup from the sample description, not the stream.
    encoder_->flags |= AV_CODEC_FLAG_BITEXACT | AV_CODEC_FLAG_GLOBAL_HEADER;
    // The fast coder: five times quicker than the default search for the same size, and
    // speech loses nothing by it that a listener hears. Noise substitution and temporal noise
    // shaping save bits that 64 kb/s of one voice does not need, at a quarter of the
    // encoder's time; intensity stereo has nothing to do in the mono or identical channels
    // written here.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "aac_coder", "fast", 0);
    av_dict_set(&options, "aac_pns", "0", 0);
    av_dict_set(&options, "aac_tns", "0", 0);
    av_dict_set(&options, "aac_is", "0", 0);
    const int opened = avcodec_open2(encoder_.get(), codec, &options);
    av_dict_free(&options);
    check(opened, "the AAC encoder refused its settings");
    frame_.reset(av_frame_alloc());
    if (!frame_)
        throw std::bad_alloc();
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = format_.sampleRate;
    frame_->nb_samples = encoder_->frame_size;
    check(av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout), "no memory");
    check(av_frame_get_buffer(frame_.get(), 0), "no memory for a frame");
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
    for (const std::int16_t sample : monoSamples) {
        pending_.push_back(static_cast<float>(sample) / 32768.0f);
        if (pending_.size() == blockSamples_) {
            if (!handover_->push(std::exchange(pending_, {})))
                handover_->rethrow();
            pending_.reserve(blockSamples_);
        }
    }
    frames_ += monoSamples.size();
}

// The encoding thread: every block handed over, in order, until the writer finishes or
// stops; its first failure is kept for the writer, and ends it.
void Mp4AudioWriter::encodeHandedOver() {
    try {
        while (const std::optional<std::vector<float>> block = handover_->pop()) {
            if (cancel_ != nullptr && cancel_->load())
                throw ConversionCancelled(outputFailure(path_, "the conversion was cancelled",
                                                        soundFileKind(Container::M4b)));
            encodeFrames(*block);
        }
    } catch (...) {
        handover_->fail(std::current_exception());
    }
}

// Every frame handed over encoded, the short last one too, and the encoder flushed: from
// here on the writer alone uses the encoder and the file.
void Mp4AudioWriter::finishEncoding() {
    handover_->finish();
    if (encoding_.joinable())
        encoding_.join();
    handover_->rethrow();
    encodeFrames(pending_);
    sendToEncoder(nullptr);
}

// Whole frames, the last one short where fewer samples are left.
void Mp4AudioWriter::encodeFrames(std::span<const float> samples) {
    const auto frameSize = static_cast<std::size_t>(encoder_->frame_size);
    while (!samples.empty()) {
        const std::size_t take = std::min(frameSize, samples.size());
        encodeFrame(samples.first(take));
        samples = samples.subspan(take);
    }
}

// One frame (the last may be short), in every channel alike.
void Mp4AudioWriter::encodeFrame(std::span<const float> samples) {
    check(av_frame_make_writable(frame_.get()), "no memory for a frame");
    frame_->nb_samples = static_cast<int>(samples.size());
    for (int channel = 0; channel < format_.channels; ++channel)
        std::copy(samples.begin(), samples.end(),
                  reinterpret_cast<float*>(frame_->extended_data[channel]));
    frame_->pts = encodedFrames_;
    encodedFrames_ += frame_->nb_samples;
    sendToEncoder(frame_.get());
}

namespace {

// How an encoded packet is kept in the file until the MP4 is made.
struct KeptPacket {
    std::int64_t pts = 0;
    std::int64_t dts = 0;
    std::int64_t duration = 0;
    std::int32_t size = 0;
    std::int32_t flags = 0;
};

constexpr std::size_t keptBlockBytes = 1 << 16;

} // namespace

// Null flushes the encoder. The packets are kept, in blocks, after those before.
void Mp4AudioWriter::sendToEncoder(const AVFrame* frame) {
    check(avcodec_send_frame(encoder_.get(), frame), "the AAC encoder failed");
    for (;;) {
        const int received = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            break;
        check(received, "the AAC encoder failed");
        const KeptPacket kept{.pts = packet_->pts,
                              .dts = packet_->dts,
                              .duration = packet_->duration,
                              .size = packet_->size,
                              .flags = packet_->flags};
        keptBlock_.append(reinterpret_cast<const char*>(&kept), sizeof kept);
        keptBlock_.append(reinterpret_cast<const char*>(packet_->data),
                          static_cast<std::size_t>(packet_->size));
        av_packet_unref(packet_.get());
    }
    if (keptBlock_.size() >= keptBlockBytes || frame == nullptr) {
        file_->append(keptBlock_);
        keptBlock_.clear();
        check(0, "");
    }
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
