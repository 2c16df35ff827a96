#include "mp4_file_io.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <new>

namespace kestrova::speech {
namespace {

constexpr int ioBufferBytes = 1 << 16;

} // namespace

AVIOContext* newIoContext(Mp4FileIo& file, bool writing) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferBytes));
    if (buffer == nullptr)
        throw std::bad_alloc();
    AVIOContext* io = writing ? avio_alloc_context(buffer, ioBufferBytes, 1, &file, nullptr,
                                                   Mp4FileIo::write, Mp4FileIo::seek)
                              : avio_alloc_context(buffer, ioBufferBytes, 0, &file, Mp4FileIo::read,
                                                   nullptr, Mp4FileIo::seekReader);
    if (io == nullptr) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    return io;
}

void freeIoContext(AVIOContext* io) {
    if (io != nullptr)
        av_freep(&io->buffer); // the context may have replaced the buffer it was given
    avio_context_free(&io);
}

int openForReading(AVFormatContext* muxer, AVIOContext** io, const char*, int flags,
                   AVDictionary**) {
    if ((flags & AVIO_FLAG_WRITE) != 0)
        return AVERROR(EPERM);
    try {
        auto* file = static_cast<Mp4FileIo*>(muxer->opaque);
        file->startReading();
        *io = newIoContext(*file, false);
        return 0;
    } catch (const std::bad_alloc&) {
        return AVERROR(ENOMEM);
    }
}

int closeReading(AVFormatContext*, AVIOContext* io) {
    freeIoContext(io);
    return 0;
}

} // namespace kestrova::speech
