#include "worker_protocol.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

bool receiveAll(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

void appendWord(std::uint32_t word, std::string& record) {
    record.append(reinterpret_cast<const char*>(&word), sizeof word);
}

template <typename Value> void appendValue(const Value& value, std::string& record) {
    record.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void appendText(const std::string& text, std::string& record) {
    appendWord(static_cast<std::uint32_t>(text.size()), record);
    record += text;
}

// Both ends are the same program: a task goes over as the values' own bytes.
class TaskDecoder {
public:
    explicit TaskDecoder(std::string_view bytes) : bytes_(bytes) {}

    template <typename Value> void value(Value& value) {
        if (bytes_.size() < sizeof value) {
            failed_ = true;
            return;
        }
        std::memcpy(&value, bytes_.data(), sizeof value);
        bytes_.remove_prefix(sizeof value);
    }
    void text(std::string& text) {
        std::uint32_t length = 0;
        value(length);
        if (failed_ || bytes_.size() < length) {
            failed_ = true;
            return;
        }
        text.assign(bytes_.substr(0, length));
        bytes_.remove_prefix(length);
    }
    bool failed() const { return failed_; }
    bool whole() const { return !failed_ && bytes_.empty(); }

private:
    std::string_view bytes_;
    bool failed_ = false;
};

// A pause as a number: -1 for none.
std::int32_t pauseValue(const std::optional<int>& pause) {
    return pause ? *pause : -1;
}

std::optional<int> pauseFrom(std::int32_t value) {
    return value < 0 ? std::nullopt : std::optional<int>(value);
}

} // namespace

bool sendAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool sendSamples(int socket, std::span<const std::int16_t> block) {
    auto tag = static_cast<std::uint32_t>(block.size());
    iovec parts[2] = {{&tag, sizeof tag},
                      {const_cast<std::int16_t*>(block.data()), block.size_bytes()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    while (message.msg_iovlen > 0) {
        const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        // Past what went: whole parts, then into the part that went only in part.
        auto left = static_cast<std::size_t>(sent);
        while (message.msg_iovlen > 0 && left >= message.msg_iov->iov_len) {
            left -= message.msg_iov->iov_len;
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<char*>(message.msg_iov->iov_base) + left;
            message.msg_iov->iov_len -= left;
        }
    }
    return true;
}

bool sendSilence(int socket, std::uint64_t frames) {
    std::string record;
    appendWord(wire::silenceTag, record);
    appendValue(frames, record);
    return sendAll(socket, record.data(), record.size());
}

bool sendTask(int fd, const RenderTask& task, bool endsRun) {
    std::string record;
    appendWord(0, record); // the length, filled in below
    appendText(task.text, record);
    appendValue(static_cast<std::uint32_t>(task.voice.engine), record);
    appendText(task.voice.displayName, record);
    appendText(task.voice.id, record);
    appendText(task.voice.language, record);
    appendValue(static_cast<std::int32_t>(task.voice.nativeRate), record);
    appendText(task.voice.engineVoice, record);
    appendValue(task.prosody.rate, record);
    appendValue(task.prosody.pitch, record);
    appendValue(task.prosody.volume, record);
    appendValue(pauseValue(task.pauses.sentenceMs), record);
    appendValue(pauseValue(task.pauses.paragraphMs), record);
    appendValue(static_cast<std::uint8_t>(task.trimLeading), record);
    appendValue(static_cast<std::uint8_t>(task.trimTrailing), record);
    appendValue(task.trailingSilenceMs, record);
    appendWord(static_cast<std::uint32_t>(task.marks.size()), record);
    for (const std::string& mark : task.marks)
        appendText(mark, record);
    appendValue(task.endCharacter, record);
    appendValue(static_cast<std::uint8_t>(endsRun), record);
    const auto length = static_cast<std::uint32_t>(record.size() - sizeof(std::uint32_t));
    std::memcpy(record.data(), &length, sizeof length);
    return sendAll(fd, record.data(), record.size());
}

bool receiveTask(int fd, RenderTask& task, bool& endsRun) {
    std::uint32_t length = 0;
    if (!receiveAll(fd, &length, sizeof length))
        return false;
    std::string bytes(length, '\0');
    if (!receiveAll(fd, bytes.data(), length))
        return false;
    TaskDecoder decoder(bytes);
    decoder.text(task.text);
    std::uint32_t engine = 0;
    decoder.value(engine);
    task.voice.engine = static_cast<EngineKind>(engine);
    decoder.text(task.voice.displayName);
    decoder.text(task.voice.id);
    decoder.text(task.voice.language);
    std::int32_t nativeRate = 0;
    decoder.value(nativeRate);
    task.voice.nativeRate = nativeRate;
    decoder.text(task.voice.engineVoice);
    decoder.value(task.prosody.rate);
    decoder.value(task.prosody.pitch);
    decoder.value(task.prosody.volume);
    std::int32_t sentenceMs = -1;
    std::int32_t paragraphMs = -1;
    decoder.value(sentenceMs);
    decoder.value(paragraphMs);
    task.pauses = {pauseFrom(sentenceMs), pauseFrom(paragraphMs)};
    std::uint8_t trimLeading = 0;
    std::uint8_t trimTrailing = 0;
    decoder.value(trimLeading);
    decoder.value(trimTrailing);
    task.trimLeading = trimLeading != 0;
    task.trimTrailing = trimTrailing != 0;
    decoder.value(task.trailingSilenceMs);
    std::uint32_t marks = 0;
    decoder.value(marks);
    task.marks.clear();
    for (std::uint32_t i = 0; i < marks && !decoder.failed(); ++i)
        decoder.text(task.marks.emplace_back());
    decoder.value(task.endCharacter);
    std::uint8_t last = 0;
    decoder.value(last);
    endsRun = last != 0;
    return decoder.whole();
}

void encodeChunkComplete(std::string& record) {
    record.clear();
    appendWord(wire::chunkComplete, record);
}

void encodeFailure(const std::string& message, std::string& record) {
    record.clear();
    appendWord(wire::failureTag, record);
    appendWord(static_cast<std::uint32_t>(message.size()), record);
    record += message;
}

bool sendFailure(int fd, const std::string& message) {
    std::string record;
    encodeFailure(message, record);
    return sendAll(fd, record.data(), record.size());
}

std::string workerStartFailure() {
    return std::string("cannot start a speech worker: ") + std::strerror(errno);
}

std::string renderingFailure(const ChildEnd& end) {
    return "the speech engine failed while rendering: it " + end.worded();
}

ReplyReader::Part ReplyReader::readPart(int fd, char* into, std::size_t wanted, std::size_t& have) {
    while (have < wanted) {
        const ssize_t got = ::recv(fd, into + have, wanted - have, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Part::Later;
        if (got <= 0)
            return Part::Closed;
        have += static_cast<std::size_t>(got);
    }
    return Part::Whole;
}

ReplyReader::Record ReplyReader::finish(Record record) {
    headBytes_ = 0;
    bodyBytes_ = 0;
    return record;
}

ReplyReader::Record ReplyReader::next(int fd, std::vector<std::int16_t>& samples) {
    const auto unfinished = [](Part part) {
        return part == Part::Later ? Record::Incomplete : Record::Closed;
    };
    std::uint32_t tag = 0;
    if (const Part part = readPart(fd, head_, sizeof tag, headBytes_); part != Part::Whole)
        return unfinished(part);
    std::memcpy(&tag, head_, sizeof tag);
    if (tag == wire::chunkComplete)
        return finish(Record::ChunkComplete);
    if (tag == wire::silenceTag) {
        if (const Part part = readPart(fd, head_, silenceHeadBytes, headBytes_);
            part != Part::Whole)
            return unfinished(part);
        std::memcpy(&silenceFrames_, head_ + sizeof tag, sizeof silenceFrames_);
        return finish(Record::Silence);
    }
    if (tag == wire::failureTag) {
        if (const Part part = readPart(fd, head_, failureHeadBytes, headBytes_);
            part != Part::Whole)
            return unfinished(part);
        std::uint32_t length = 0;
        std::memcpy(&length, head_ + sizeof tag, sizeof length);
        failure_.resize(length);
        if (const Part part = readPart(fd, failure_.data(), length, bodyBytes_);
            part != Part::Whole)
            return unfinished(part);
        return finish(Record::Failure);
    }
    // A block of samples, read straight onto the end of the samples so far.
    if (bodyBytes_ == 0)
        blockStart_ = samples.size();
    samples.resize(blockStart_ + tag);
    if (const Part part = readPart(fd, reinterpret_cast<char*>(samples.data() + blockStart_),
                                   std::size_t{tag} * sizeof(std::int16_t), bodyBytes_);
        part != Part::Whole)
        return unfinished(part);
    return finish(Record::Samples);
}

} // namespace kestrova::speech
