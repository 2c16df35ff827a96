#include "aac_stretch_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

namespace kestrova::speech {

void AacStretchEncoder::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void AacStretchEncoder::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

AacStretchEncoder::AacStretchEncoder(const AacSettings& settings, std::int64_t firstSample,
                                     std::size_t queuedBlocks)
    : settings_(settings), queue_(queuedBlocks), nextPts_(firstSample), thread_([this] { run(); }) {
}

AacStretchEncoder::~AacStretchEncoder() {
    stopping_ = true;
    queue_.stop();
    if (thread_.joinable())
        thread_.join();
}

void AacStretchEncoder::push(std::vector<std::int16_t> block) {
    if (queue_.push(std::move(block)))
        return;
    queue_.rethrow();
    throw std::logic_error("a block pushed into a stopped stretch");
}

void AacStretchEncoder::finish(bool keepLastPacket) {
    keepLastPacket_ = keepLastPacket;
    queue_.finish();
}

void AacStretchEncoder::waitFinished() {
    if (thread_.joinable())
        thread_.join();
    queue_.rethrow();
}

std::string AacStretchEncoder::takePackets() {
    const std::lock_guard lock(packetsMutex_);
    return std::exchange(packets_, {});
}

// Every block until the stretch is finished, then the flush; the first failure is kept for the
// writer, and ends the thread.
void AacStretchEncoder::run() {
    try {
        openEncoder();
        while (const std::optional<std::vector<std::int16_t>> block = queue_.pop())
            encodeBlock(*block);
        if (stopping_)
            return;
        send(nullptr);
        if (keepLastPacket_) {
            const std::lock_guard lock(packetsMutex_);
            packets_ += held_;
        }
        done_ = true;
    } catch (...) {
        queue_.fail(std::current_exception());
    }
}

void AacStretchEncoder::openEncoder() {
    encoder_ = openAacEncoder(settings_);
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_)
        throw std::bad_alloc();
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = settings_.format.sampleRate;
    frame_->nb_samples = encoder_->frame_size;
    checkFfmpeg(av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout), "no memory",
                settings_.path);
    checkFfmpeg(av_frame_get_buffer(frame_.get(), 0), "no memory for a frame", settings_.path);
}

// Whole frames, the last one short where fewer samples are left; a stop or a cancel is
// looked at before each.
void AacStretchEncoder::encodeBlock(std::span<const std::int16_t> samples) {
    const auto frameSize = static_cast<std::size_t>(encoder_->frame_size);
    while (!samples.empty() && !stopping_) {
        checkNotCancelled(settings_);
        const std::size_t take = std::min(frameSize, samples.size());
        encodeFrame(samples.first(take));
        samples = samples.subspan(take);
    }
}

// One frame (the last may be short), in every channel alike.
void AacStretchEncoder::encodeFrame(std::span<const std::int16_t> samples) {
    checkFfmpeg(av_frame_make_writable(frame_.get()), "no memory for a frame", settings_.path);
    frame_->nb_samples = static_cast<int>(samples.size());
    for (int channel = 0; channel < settings_.format.channels; ++channel)
        std::transform(samples.begin(), samples.end(),
                       reinterpret_cast<float*>(frame_->extended_data[channel]),
                       [](std::int16_t sample) { return static_cast<float>(sample) / 32768.0f; });
    frame_->pts = nextPts_;
    nextPts_ += frame_->nb_samples;
    send(frame_.get());
}

// Null flushes the encoder.
void AacStretchEncoder::send(const AVFrame* frame) {
    checkFfmpeg(avcodec_send_frame(encoder_.get(), frame), "the AAC encoder failed",
                settings_.path);
    for (;;) {
        const int received = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return;
        checkFfmpeg(received, "the AAC encoder failed", settings_.path);
        keep(*packet_);
        av_packet_unref(packet_.get());
    }
}

// The packet before is published: only the last can be the one dropped.
void AacStretchEncoder::keep(const AVPacket& packet) {
    if (!held_.empty()) {
        const std::lock_guard lock(packetsMutex_);
        packets_ += held_;
    }
    const KeptPacket kept{.pts = packet.pts,
                          .dts = packet.dts,
                          .duration = packet.duration,
                          .size = packet.size,
                          .flags = packet.flags};
    held_.assign(reinterpret_cast<const char*>(&kept), sizeof kept);
    held_.append(reinterpret_cast<const char*>(packet.data), static_cast<std::size_t>(packet.size));
}

} // namespace kestrova::speech
