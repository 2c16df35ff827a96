#include "text_file_reader.h"

#include "speech/base/utf8.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/whole_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

constexpr std::size_t pieceSize = 1 << 16;

} // namespace

TextFileReader::TextFileReader(const std::filesystem::path& path, TextEncoding encoding,
                               const std::atomic<bool>* cancel)
    : path_(path), buffer_(pieceSize, '\0') {
    openRegularFile();
    settleEncodingFromStart(encoding);
    countCharacters(cancel);
    rewindAfterMark();
    decoder_.emplace(encoding_);
}

void TextFileReader::openRegularFile() {
    // Without blocking: opening a FIFO would wait for a writer.
    file_.reset(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file_)
        throw FileError(inputFailure("open", path_, std::strerror(errno)));
    // The file is read twice, and to its end before the rendering begins: a pipe cannot be
    // read again, and a device such as /dev/zero has no end.
    struct stat status {};
    if (::fstat(file_.get(), &status) != 0)
        throw FileError(inputFailure("read", path_, std::strerror(errno)));
    if (S_ISDIR(status.st_mode))
        throw FileError(inputFailure("read", path_, std::strerror(EISDIR)));
    if (!S_ISREG(status.st_mode))
        throw FileError(inputFailure("read", path_, "it is not a regular file"));
    identity_ = FileIdentity::of(status);
    ::fcntl(file_.get(), F_SETFL, ::fcntl(file_.get(), F_GETFL) & ~O_NONBLOCK);
}

void TextFileReader::settleEncodingFromStart(TextEncoding encoding) {
    const std::size_t startLength = readBytes(buffer_.data(), buffer_.size());
    const std::string_view start(buffer_.data(), startLength);
    const TextEncoding fromStart = encodingFromStart(start);
    encoding_ = encoding == TextEncoding::Automatic ? fromStart : encoding;
    if (encodingFromStart(start) == encoding_)
        markLength_ = byteOrderMarkLength(start);
}

// One pass over the file settles UTF-8 against Windows-1252 and counts the characters.
void TextFileReader::countCharacters(const std::atomic<bool>* cancel) {
    rewindAfterMark();
    const bool probeUtf8 = encoding_ == TextEncoding::Automatic || encoding_ == TextEncoding::Utf8;
    TextDecoder probe(TextEncoding::Utf8);
    std::string scratch;
    std::uint64_t bytes = 0;
    std::uint64_t continuationBytes = 0;
    for (std::size_t got; (got = readBytes(buffer_.data(), buffer_.size())) > 0;) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            throw ConversionCancelled(inputFailure("read", path_, "the conversion was cancelled"));
        bytes += got;
        if (probeUtf8) {
            for (std::size_t i = 0; i < got; ++i)
                continuationBytes += isContinuationByte(buffer_[i]);
            if (encoding_ == TextEncoding::Automatic && probe.clean()) {
                scratch.clear();
                probe.decode({buffer_.data(), got}, false, scratch);
            }
        }
    }
    if (encoding_ == TextEncoding::Automatic) {
        scratch.clear();
        probe.decode({}, true, scratch);
        encoding_ = probe.clean() ? TextEncoding::Utf8 : TextEncoding::Windows1252;
    }
    totalCharacters_ = charactersIn(bytes, continuationBytes);
}

std::uint64_t TextFileReader::charactersIn(std::uint64_t bytes,
                                           std::uint64_t continuationBytes) const {
    switch (encoding_) {
    case TextEncoding::Utf8:
        return bytes - continuationBytes;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        return bytes / 2;
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE:
        return bytes / 4;
    default:
        return bytes;
    }
}

bool TextFileReader::read(std::string& output) {
    output.clear();
    if (exhausted_)
        return false;
    const std::size_t got = readBytes(buffer_.data(), buffer_.size());
    exhausted_ = got == 0;
    decoder_->decode({buffer_.data(), got}, exhausted_, output);
    return true;
}

bool TextFileReader::readUndecoded(std::string& output) {
    if (!undecodedBegun_ && ::lseek(file_.get(), 0, SEEK_SET) < 0)
        throw FileError(inputFailure("read", path_, std::strerror(errno)));
    undecodedBegun_ = true;
    const std::size_t got = readBytes(buffer_.data(), buffer_.size());
    output.assign(buffer_.data(), got);
    return got > 0;
}

std::size_t TextFileReader::readBytes(char* buffer, std::size_t size) {
    const Transfer read = readAll(file_.get(), buffer, size);
    if (read.error != 0)
        throw FileError(inputFailure("read", path_, std::strerror(read.error)));
    return read.done;
}

void TextFileReader::rewindAfterMark() {
    if (::lseek(file_.get(), static_cast<off_t>(markLength_), SEEK_SET) < 0)
        throw FileError(inputFailure("read", path_, std::strerror(errno)));
}

} // namespace kestrova::speech
