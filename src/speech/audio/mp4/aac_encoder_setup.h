#pragma once

#include "speech/audio_format.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

struct AVCodecContext;

namespace kestrova::speech {

// What every AAC encoder of one M4B file is opened with, and where its failures are told.
struct AacSettings {
    AudioFormat format;
    int bitrateKbps = 0;
    std::filesystem::path path;
    const std::atomic<bool>* cancel = nullptr;
};

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const;
};
using CodecContextHandle = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

// FFmpeg's AAC encoder with the file's settings, opened: the same settings give the same
// bytes for the same samples, so that any encoder of the file may take any stretch of it.
CodecContextHandle openAacEncoder(const AacSettings& settings);

// A FileError naming the M4B file and the reason.
[[noreturn]] void failM4b(const std::filesystem::path& path, const std::string& reason);
// Fails, naming what was being done and FFmpeg's reason, for a negative result.
void checkFfmpeg(int result, const char* doing, const std::filesystem::path& path);
// ConversionCancelled naming the file, once the cancel flag is set.
void checkNotCancelled(const AacSettings& settings);
std::string ffmpegReason(int code);

// How an encoded packet is kept in the file until the MP4 is made: this record, then its
// bytes.
struct KeptPacket {
    std::int64_t pts = 0;
    std::int64_t dts = 0;
    std::int64_t duration = 0;
    std::int32_t size = 0;
    std::int32_t flags = 0;
};

} // namespace kestrova::speech
