#include "worker_protocol.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

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

// A voice's fields in their order on the wire (Value const for the encoder).
template <typename Coder, typename Value> void codeVoice(Coder& coder, Value& voice) {
    coder.template as<std::uint32_t>(voice.engine);
    coder.text(voice.displayName);
    coder.text(voice.id);
    coder.text(voice.language);
    coder.template as<std::int32_t>(voice.nativeRate);
    coder.text(voice.engineVoice);
    coder.text(voice.command.line);
    coder.template as<std::int32_t>(voice.command.rawRate);
    coder.template as<std::int32_t>(voice.command.timeoutSeconds);
}

// Both ends are the same program: a task goes over as the values' own bytes. A field goes as
// Wire, a type of fixed size, converted from and to the task's own type.
class TaskEncoder {
public:
    explicit TaskEncoder(std::string& record) : record_(record) {}

    template <typename Wire, typename Value> void as(const Value& value) {
        appendValue(static_cast<Wire>(value), record_);
    }
    void text(const std::string& text) { appendText(text, record_); }
    void texts(const std::vector<std::string>& texts) {
        appendWord(static_cast<std::uint32_t>(texts.size()), record_);
        for (const std::string& text : texts)
            appendText(text, record_);
    }
    // A pause as a number: -1 for none.
    void pause(const std::optional<int>& pause) { as<std::int32_t>(pause ? *pause : -1); }
    void voiceChanges(const std::vector<VoiceChange>& changes) {
        appendWord(static_cast<std::uint32_t>(changes.size()), record_);
        for (const VoiceChange& change : changes) {
            as<std::uint64_t>(change.at);
            codeVoice(*this, change.voice);
        }
    }

private:
    std::string& record_;
};

class TaskDecoder {
public:
    explicit TaskDecoder(std::string_view bytes) : bytes_(bytes) {}

    template <typename Wire, typename Value> void as(Value& value) {
        Wire wire{};
        if (bytes_.size() < sizeof wire) {
            failed_ = true;
            return;
        }
        std::memcpy(&wire, bytes_.data(), sizeof wire);
        bytes_.remove_prefix(sizeof wire);
        value = static_cast<Value>(wire);
    }
    void text(std::string& text) {
        std::uint32_t length = 0;
        as<std::uint32_t>(length);
        if (failed_ || bytes_.size() < length) {
            failed_ = true;
            return;
        }
        text.assign(bytes_.substr(0, length));
        bytes_.remove_prefix(length);
    }
    void texts(std::vector<std::string>& texts) {
        std::uint32_t count = 0;
        as<std::uint32_t>(count);
        texts.clear();
        for (std::uint32_t i = 0; i < count && !failed_; ++i)
            text(texts.emplace_back());
    }
    void pause(std::optional<int>& pause) {
        std::int32_t value = -1;
        as<std::int32_t>(value);
        pause = value < 0 ? std::nullopt : std::optional<int>(value);
    }
    void voiceChanges(std::vector<VoiceChange>& changes) {
        std::uint32_t count = 0;
        as<std::uint32_t>(count);
        changes.clear();
        // Each change takes more than a byte: a count past the bytes left is a broken record.
        if (count > bytes_.size()) {
            failed_ = true;
            return;
        }
        for (std::uint32_t i = 0; i < count && !failed_; ++i) {
            VoiceChange& change = changes.emplace_back();
            as<std::uint64_t>(change.at);
            codeVoice(*this, change.voice);
        }
    }
    bool whole() const { return !failed_ && bytes_.empty(); }

private:
    std::string_view bytes_;
    bool failed_ = false;
};

// The task's fields in their order on the wire, for the encoder and the decoder alike
// (Task and Flag const for the encoder): a field added here is both sent and received.
template <typename Coder, typename Task, typename Flag>
void codeTaskFields(Coder& coder, Task& task, Flag& endsRun) {
    coder.text(task.text);
    codeVoice(coder, task.voice);
    coder.voiceChanges(task.voiceChanges);
    coder.template as<double>(task.prosody.rate);
    coder.template as<double>(task.prosody.pitch);
    coder.template as<double>(task.prosody.volume);
    coder.pause(task.pauses.sentenceMs);
    coder.pause(task.pauses.paragraphMs);
    coder.template as<std::uint8_t>(task.trimLeading);
    coder.template as<std::uint8_t>(task.trimTrailing);
    coder.template as<std::int64_t>(task.trailingSilenceMs);
    coder.texts(task.marks);
    coder.template as<std::uint64_t>(task.endCharacter);
    coder.template as<std::uint8_t>(endsRun);
}

} // namespace

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
    return sendAll(socket, record.data(), record.size()).whole();
}

bool sendShared(int socket, std::uint64_t position, std::uint64_t count) {
    std::string record;
    appendWord(wire::sharedTag, record);
    appendValue(position, record);
    appendValue(count, record);
    return sendAll(socket, record.data(), record.size()).whole();
}

void encodeTask(const RenderTask& task, std::string& record) {
    const bool endsRun = false;
    TaskEncoder encoder(record);
    codeTaskFields(encoder, task, endsRun);
}

bool sendTask(int fd, const RenderTask& task, bool endsRun) {
    std::string record;
    appendWord(0, record); // the length, filled in below
    TaskEncoder encoder(record);
    codeTaskFields(encoder, task, endsRun);
    const auto length = static_cast<std::uint32_t>(record.size() - sizeof(std::uint32_t));
    std::memcpy(record.data(), &length, sizeof length);
    return sendAll(fd, record.data(), record.size()).whole();
}

bool receiveTask(int fd, RenderTask& task, bool& endsRun) {
    std::uint32_t length = 0;
    if (!readAll(fd, &length, sizeof length).whole())
        return false;
    std::string bytes(length, '\0');
    if (!readAll(fd, bytes.data(), length).whole())
        return false;
    TaskDecoder decoder(bytes);
    codeTaskFields(decoder, task, endsRun);
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
    return sendAll(fd, record.data(), record.size()).whole();
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

ReplyReader::Record ReplyReader::next(int fd, ChunkSamples& chunkSamples) {
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
    if (tag == wire::sharedTag) {
        if (const Part part = readPart(fd, head_, sharedHeadBytes, headBytes_); part != Part::Whole)
            return unfinished(part);
        std::memcpy(&sharedPosition_, head_ + sizeof tag, sizeof sharedPosition_);
        std::memcpy(&sharedCount_, head_ + sizeof tag + sizeof sharedPosition_,
                    sizeof sharedCount_);
        return finish(Record::Shared);
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
    std::vector<std::int16_t>& samples = chunkSamples.own();
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
