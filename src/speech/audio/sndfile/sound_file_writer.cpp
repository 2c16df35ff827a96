#include "sound_file_writer.h"

#include "speech/audio/tags/ogg_vorbis_comments.h"
#include "speech/audio/tags/sound_tag_writer.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestrova::speech {

namespace {

// libsndfile numbers each Ogg stream from the clock; every file gets this one instead, so that
// the same conversion gives the same bytes. A file holds one stream: any fixed number serves.
constexpr std::uint32_t oggSerialNumber = 0x4B575356;

// How long a write into a stream waits between looks at the cancel flag.
constexpr int streamWaitStepMs = 50;

// A file's bytes are sent on to the disk in steps of this many.
constexpr sf_count_t writeBehindBytes = 8 << 20;

} // namespace

// Where libsndfile's bytes go, through its virtual I/O: written in full into the descriptor,
// or the first failure kept (and nothing more written). libsndfile ignores some failed writes
// and cannot report those made as it closes; the writer asks the sink instead.
// A descriptor that cannot seek is a stream: libsndfile's rewrites of what it already sent
// (FLAC's stream info, an AU header's length) are dropped there, which leaves what a stream
// encoder writes: FLAC's and AU's "length unknown". A file is written where libsndfile
// seeks, relative to where the descriptor stood, as through the descriptor itself.
// Ogg is held a page at a time (libsndfile writes a page's header and body apart) and each
// page sent with the fixed serial number, Vorbis's first two without libsndfile's tag.
// libsndfile writes Ogg strictly forward; a seek that would move is refused all the same, so
// no page can be rewritten behind the rewriting.
class ByteSink {
public:
    ByteSink(int fd, Container container, const std::atomic<bool>* cancel)
        : fd_(fd), base_(::lseek(fd, 0, SEEK_CUR)), cancel_(cancel),
          ogg_(container == Container::OggVorbis || container == Container::OggOpus),
          holdingHead_(container == Container::OggVorbis) {
        seekable_ = base_ >= 0;
    }

    int error() const { return error_; }
    bool cancelled() const { return cancelled_; }
    std::uint64_t nextByte() const { return static_cast<std::uint64_t>(base_ + position_); }
    bool seekable() const { return seekable_; }

    // Bytes that came another way, written as libsndfile's are.
    void relay(std::string_view bytes) {
        write(bytes.data(), static_cast<sf_count_t>(bytes.size()));
    }

    // Sends what is still held: Ogg bytes that never grew into whole pages.
    void finish() {
        holdingHead_ = false;
        put(held_.data(), static_cast<sf_count_t>(held_.size()));
        held_.clear();
    }

    static SF_VIRTUAL_IO callbacks() {
        return {
            .get_filelen = [](void* sink) { return static_cast<ByteSink*>(sink)->length(); },
            .seek = [](sf_count_t offset, int whence,
                       void* sink) { return static_cast<ByteSink*>(sink)->seek(offset, whence); },
            .read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; },
            .write =
                [](const void* data, sf_count_t count, void* sink) {
                    return static_cast<ByteSink*>(sink)->write(static_cast<const char*>(data),
                                                               count);
                },
            .tell =
                [](void* sink) {
                    return static_cast<ByteSink*>(sink)->position_;
                }};
    }

private:
    sf_count_t length() const {
        struct stat status {};
        if (!seekable_ || ::fstat(fd_, &status) != 0)
            return 0; // a stream's length is unknown: headers say so
        return std::max<sf_count_t>(0, status.st_size - base_);
    }

    sf_count_t seek(sf_count_t offset, int whence) {
        const sf_count_t target = whence == SEEK_SET   ? offset
                                  : whence == SEEK_CUR ? position_ + offset
                                                       : length() + offset;
        if (target < 0 || (!seekable_ && target > sent_) || (ogg_ && target != position_))
            return -1;
        if (seekable_ && ::lseek(fd_, base_ + target, SEEK_SET) < 0)
            return -1;
        position_ = target;
        return position_;
    }

    sf_count_t write(const char* data, sf_count_t count) {
        if (error_ != 0 || count < 0)
            return 0;
        if (ogg_)
            return holdPages(data, count);
        // A stream has the bytes before sent_ already.
        const sf_count_t dropped = seekable_ ? 0 : std::min(count, sent_ - position_);
        const sf_count_t written = dropped + put(data + dropped, count - dropped);
        position_ += written;
        sent_ = std::max(sent_, position_);
        if (seekable_ && sent_ - writtenBack_ >= writeBehindBytes)
            startWriteBack();
        return written;
    }

    // The bytes written so far start on their way to the disk while the rest is rendered:
    // left to the flush when the file is named, half a GB kept the last third of a second of
    // a run waiting on the disk with every core idle. Only a start: a failure is the flush's
    // to report, and a file that is not a regular one refuses it harmlessly.
    void startWriteBack() {
        ::sync_file_range(fd_, base_ + writtenBack_, sent_ - writtenBack_, SYNC_FILE_RANGE_WRITE);
        writtenBack_ = sent_;
    }

    sf_count_t holdPages(const char* data, sf_count_t count) {
        held_.append(data, static_cast<std::size_t>(count));
        position_ += count;
        if (holdingHead_) {
            const std::optional<std::size_t> headLength = oggHeadLength(held_);
            if (!headLength)
                return count;
            holdingHead_ = false;
            held_ = withoutOggComment(std::string_view(held_).substr(0, *headLength),
                                      "ENCODER=libsndfile") +
                    held_.substr(*headLength);
        }
        std::size_t sent = 0;
        while (const std::optional<std::size_t> length =
                   oggPageLength(std::string_view(held_).substr(sent))) {
            std::string page = held_.substr(sent, *length);
            setOggSerialNumber(page, oggSerialNumber);
            put(page.data(), static_cast<sf_count_t>(page.size()));
            sent += *length;
        }
        held_.erase(0, sent);
        return error_ == 0 ? count : 0;
    }

    // Writes all of it, or keeps the first failure; returns what was written. A stream takes
    // at most a pipe's atomic size at a time, once it can take any: a pipe that reports room
    // takes that much without blocking.
    sf_count_t put(const char* data, sf_count_t count) {
        sf_count_t done = 0;
        while (done < count && error_ == 0) {
            auto step = static_cast<std::size_t>(count - done);
            if (!seekable_) {
                if (!awaitRoom())
                    break;
                step = std::min<std::size_t>(step, PIPE_BUF);
            }
            const ssize_t written = ::write(fd_, data + done, step);
            if (written > 0)
                done += written;
            else if (written == 0)
                error_ = EIO;
            else if (errno != EINTR && errno != EAGAIN)
                error_ = errno;
        }
        return done;
    }

    // Waits in short steps until the stream has room, so that a reader that stopped reading
    // cannot hold a stop signal off; false once the conversion is cancelled. The descriptor's
    // blocking mode is left alone: standard output's is shared with the rest of a pipeline.
    bool awaitRoom() {
        pollfd stream{.fd = fd_, .events = POLLOUT, .revents = 0};
        for (;;) {
            if (cancel_ != nullptr && cancel_->load()) {
                cancelled_ = true;
                error_ = ECANCELED;
                return false;
            }
            const int ready = ::poll(&stream, 1, streamWaitStepMs);
            if (ready > 0) // room, or a failure the write will name
                return true;
            if (ready < 0 && errno != EINTR) {
                error_ = errno;
                return false;
            }
        }
    }

    int fd_;
    off_t base_;
    const std::atomic<bool>* cancel_;
    bool ogg_;
    bool holdingHead_; // Ogg Vorbis until its first two pages are whole
    bool seekable_ = false;
    sf_count_t position_ = 0;
    sf_count_t sent_ = 0;        // the bytes so far: a stream's, or a file's furthest
    sf_count_t writtenBack_ = 0; // sent on their way to the disk
    int error_ = 0;
    bool cancelled_ = false;
    std::string held_; // Ogg bytes not yet a whole page
};

namespace {

// The encoders are given at most this many frames at a time: libvorbis takes its first
// block of analysis on the stack, and a minute of silence in one piece overflows it.
constexpr std::size_t framesPerBlock = 4096;

// A plain wave file counts its bytes in 32 bits.
constexpr std::uint64_t plainWaveLimitBytes = 0xFFFFFFFFu - (1u << 16);

int sndfileFormat(Container container, const AudioFormat& format, bool large) {
    const ContainerRow& row = containerRow(container);
    return (large ? SF_FORMAT_RF64 : row.sndfileFormat) |
           (format.bitsPerSample == 8 ? row.eightBitEncoding : row.sixteenBitEncoding);
}

} // namespace

SoundFileWriter::SoundFileWriter(int fd, Container container, AudioFormat format,
                                 std::filesystem::path path, std::uint64_t expectedFrames,
                                 const SoundTags& tags, const std::atomic<bool>* cancel)
    : fd_(fd), container_(container), fileKind_(soundFileKind(container)), format_(format),
      path_(std::move(path)) {
    const std::uint64_t frameBytes =
        static_cast<std::uint64_t>(format.channels) * (format.bitsPerSample / 8);
    // Twice the expected length still fits a plain wave: no need for RF64.
    const bool large =
        container == Container::Wave && expectedFrames * frameBytes > plainWaveLimitBytes / 2;
    stereoMp3_ = container == Container::Mp3 && format.channels == 2;
    if (container == Container::Wave && !large)
        frameLimit_ = plainWaveLimitBytes / frameBytes;
    // libsndfile reads no cue points from RF64.
    holdsCuePoints_ = containerRow(container).holdsCuePoints && !large;
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channels;
    info.format = sndfileFormat(container, format, large);
    if (!sf_format_check(&info) || writtenFormat(container, format) != format)
        fail("this file type cannot hold " + format.describe());
    const SoundTagStrings tagStrings = soundTagStrings(container, tags, path_);
    sink_ = std::make_unique<ByteSink>(fd, container, cancel);
    if (container == Container::Mp3 && !sink_->seekable()) {
        openThroughPipe(info);
    } else {
        SF_VIRTUAL_IO callbacks = ByteSink::callbacks();
        file_.reset(sf_open_virtual(&callbacks, SFM_WRITE, &info, sink_.get()));
    }
    throwIfSinkFailed();
    if (!file_)
        fail(sf_strerror(nullptr));
    if (large)
        sf_command(file_.get(), SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    writeSoundTags(file_.get(), tagStrings, path_, fileKind_);
}

// libsndfile takes a compression level of 0 to 1 for MPEG Layer III, a constant rate of
// 320 kb/s at 0 down to 32 at 1 for MPEG-1 (32 kHz and up); LAME takes the nearest rate it
// has. The level is aimed half a kb/s inside the step, away from the truncation's edge.
void SoundFileWriter::setConstantBitrate(int kbps) {
    int mode = SF_BITRATE_MODE_CONSTANT;
    double level = std::clamp((320.0 - kbps + 0.5) / (320.0 - 32.0), 0.0, 1.0);
    // Setting the mode reports no success of its own: the mode read back does.
    sf_command(file_.get(), SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    if (sf_command(file_.get(), SFC_GET_BITRATE_MODE, nullptr, 0) != SF_BITRATE_MODE_CONSTANT ||
        sf_command(file_.get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level) != SF_TRUE)
        fail("the encoder refused a constant bit rate of " + std::to_string(kbps) + " kb/s");
}

SoundFileWriter::~SoundFileWriter() = default;
SoundFileWriter::SoundFileWriter(SoundFileWriter&&) noexcept = default;
SoundFileWriter& SoundFileWriter::operator=(SoundFileWriter&&) noexcept = default;

// libsndfile leaves LAME's Xing header out only where it writes into a pipe (a stream cannot
// seek back to complete it): an MP3 stream is written into a pipe of this writer's own,
// emptied into the sink after each call. No call writes near what the pipe holds: a block of
// frames, LAME's last frames and a tag.
void SoundFileWriter::openThroughPipe(SF_INFO& info) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        fail(std::strerror(errno));
    pipeRead_.reset(ends[0]);
    pipeWrite_.reset(ends[1]);
    file_.reset(sf_open_fd(pipeWrite_.get(), SFM_WRITE, &info, SF_FALSE));
    relayPipe();
}

void SoundFileWriter::relayPipe() {
    if (!pipeRead_)
        return;
    char buffer[16384];
    ssize_t count = 0;
    while ((count = ::read(pipeRead_.get(), buffer, sizeof buffer)) > 0)
        sink_->relay(std::string_view(buffer, static_cast<std::size_t>(count)));
    if (count < 0 && errno != EAGAIN && errno != EINTR)
        fail(std::strerror(errno));
    throwIfSinkFailed();
    // A write into the pipe that failed (it was full) is kept by libsndfile.
    if (file_ && sf_error(file_.get()) != 0)
        fail(sf_strerror(file_.get()));
}

void SoundFileWriter::fail(const std::string& reason) const {
    throw FileError(outputFailure(path_, reason, fileKind_));
}

void SoundFileWriter::throwIfSinkFailed() const {
    if (sink_->cancelled())
        throw ConversionCancelled(outputFailure(path_, "the conversion was cancelled", fileKind_));
    if (sink_->error() != 0)
        fail(std::strerror(sink_->error()));
}

void SoundFileWriter::write(std::span<const std::int16_t> monoSamples) {
    if (frames_ + monoSamples.size() > frameLimit_)
        fail("the speech runs longer than a wave file of " + format_.describe() +
             " can hold; choose a lower rate");
    for (std::size_t at = 0; at < monoSamples.size(); at += framesPerBlock)
        writeBlock(monoSamples.subspan(at, std::min(framesPerBlock, monoSamples.size() - at)));
}

void SoundFileWriter::writeBlock(std::span<const std::int16_t> monoSamples) {
    const auto count = static_cast<sf_count_t>(monoSamples.size());
    sf_count_t written = 0;
    if (stereoMp3_) {
        // libsndfile 1.2.0's 16-bit stereo MP3 path copies half of each block and encodes
        // whatever its buffer held for the rest; its 32-bit path hands LAME the samples.
        interleavedWide_.resize(monoSamples.size() * 2);
        for (std::size_t i = 0; i < monoSamples.size(); ++i)
            interleavedWide_[2 * i] = interleavedWide_[2 * i + 1] = monoSamples[i] * 65536;
        written = sf_writef_int(file_.get(), interleavedWide_.data(), count);
    } else if (format_.channels == 2) {
        interleaved_.resize(monoSamples.size() * 2);
        for (std::size_t i = 0; i < monoSamples.size(); ++i)
            interleaved_[2 * i] = interleaved_[2 * i + 1] = monoSamples[i];
        written = sf_writef_short(file_.get(), interleaved_.data(), count);
    } else {
        written = sf_writef_short(file_.get(), monoSamples.data(), count);
    }
    relayPipe();
    throwIfSinkFailed();
    if (written != count)
        fail(sf_strerror(file_.get()));
    frames_ += monoSamples.size();
}

std::uint64_t SoundFileWriter::nextByte() const {
    return sink_->nextByte();
}

void SoundFileWriter::setCuePoints(std::vector<ChapterTiming> chapters) {
    cuePoints_ = std::move(chapters);
}

void SoundFileWriter::close() {
    if (!file_)
        return;
    if (frames_ == 0)
        write(std::vector<std::int16_t>(shortestSoundFrames(container_, format_.sampleRate)));
    if (std::any_of(cuePoints_.begin(), cuePoints_.end(), [this](const ChapterTiming& chapter) {
            return chapter.headingFrame > frames_;
        }))
        throw std::logic_error("a cue point lies beyond the end of the sound");
    const int result = sf_close(file_.release());
    relayPipe();
    sink_->finish();
    // The encoders' last blocks and the rewritten headers are written as it closes.
    throwIfSinkFailed();
    if (result != 0)
        fail(sf_error_number(result));
    // libsndfile refuses cue points once a sample is written: they follow its chunks.
    if (holdsCuePoints_)
        appendWaveCuePoints(fd_, cuePoints_, path_);
}

} // namespace kestrova::speech
