#include "aac_encoder_setup.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <new>

namespace kestrova::speech {

void CodecContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void failM4b(const std::filesystem::path& path, const std::string& reason) {
    throw FileError(outputFailure(path, reason, soundFileKind(Container::M4b)));
}

void checkFfmpeg(int result, const char* doing, const std::filesystem::path& path) {
    if (result < 0)
        failM4b(path, std::string(doing) + ": " + ffmpegReason(result));
}

void checkNotCancelled(const AacSettings& settings) {
    if (settings.cancel != nullptr && settings.cancel->load())
        throw ConversionCancelled(outputFailure(settings.path, "the conversion was cancelled",
                                                soundFileKind(Container::M4b)));
}

std::string ffmpegReason(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

CodecContextHandle openAacEncoder(const AacSettings& settings) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (codec == nullptr)
        failM4b(settings.path, "this FFmpeg has no AAC encoder");
    CodecContextHandle encoder(avcodec_alloc_context3(codec));
    if (!encoder)
        throw std::bad_alloc();
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = settings.format.sampleRate;
    av_channel_layout_default(&encoder->ch_layout, settings.format.channels);
    encoder->bit_rate = static_cast<std::int64_t>(settings.bitrateKbps) * 1000;
    encoder->profile = FF_PROFILE_AAC_LOW;
    encoder->time_base = AVRational{1, settings.format.sampleRate};
    // The MP4 muxer takes the decoder's setup from the sample description, not the stream.
    encoder->flags |= AV_CODEC_FLAG_BITEXACT | AV_CODEC_FLAG_GLOBAL_HEADER;
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
    const int opened = avcodec_open2(encoder.get(), codec, &options);
    av_dict_free(&options);
    checkFfmpeg(opened, "the AAC encoder refused its settings", settings.path);
    return encoder;
}

} // namespace kestrova::speech
