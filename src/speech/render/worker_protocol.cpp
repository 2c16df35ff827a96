#include "worker_protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/wait.h>
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

} // namespace

bool sendAll(int fd, const void* data, std::size_t size, bool socket) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent =
            socket ? ::send(fd, bytes, size, MSG_NOSIGNAL) : ::write(fd, bytes, size);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool sendTask(int fd, const std::string& text) {
    const auto length = static_cast<std::uint32_t>(text.size());
    return sendAll(fd, &length, sizeof length) && sendAll(fd, text.data(), text.size());
}

bool receiveTask(int fd, std::string& text) {
    std::uint32_t length = 0;
    if (!receiveAll(fd, &length, sizeof length))
        return false;
    text.resize(length);
    return receiveAll(fd, text.data(), length);
}

void encodeSamples(std::span<const std::int16_t> block, std::string& record) {
    record.clear();
    appendWord(static_cast<std::uint32_t>(block.size()), record);
    record.append(reinterpret_cast<const char*>(block.data()), block.size_bytes());
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

bool sendFailure(int fd, const std::string& message, bool socket) {
    std::string record;
    encodeFailure(message, record);
    return sendAll(fd, record.data(), record.size(), socket);
}

std::string workerStartFailure() {
    return std::string("cannot start a speech worker: ") + std::strerror(errno);
}

std::string renderingFailure(int waitStatus) {
    std::string how;
    if (WIFSIGNALED(waitStatus))
        how = std::string("it was killed by signal ") + ::strsignal(WTERMSIG(waitStatus));
    else
        how = "it exited with status " + std::to_string(WEXITSTATUS(waitStatus));
    return "the speech engine failed while rendering: " + how;
}

ReplyReader::Part ReplyReader::readPart(int fd, bool block, char* into, std::size_t wanted,
                                        std::size_t& have) {
    while (have < wanted) {
        const ssize_t got = block ? ::read(fd, into + have, wanted - have)
                                  : ::recv(fd, into + have, wanted - have, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (!block && got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
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

ReplyReader::Record ReplyReader::next(int fd, bool block, std::vector<std::int16_t>& samples) {
    const auto unfinished = [](Part part) {
        return part == Part::Later ? Record::Incomplete : Record::Closed;
    };
    std::uint32_t tag = 0;
    if (const Part part = readPart(fd, block, head_, sizeof tag, headBytes_); part != Part::Whole)
        return unfinished(part);
    std::memcpy(&tag, head_, sizeof tag);
    if (tag == wire::chunkComplete)
        return finish(Record::ChunkComplete);
    if (tag == wire::failureTag) {
        if (const Part part = readPart(fd, block, head_, sizeof head_, headBytes_);
            part != Part::Whole)
            return unfinished(part);
        std::uint32_t length = 0;
        std::memcpy(&length, head_ + sizeof tag, sizeof length);
        failure_.resize(length);
        if (const Part part = readPart(fd, block, failure_.data(), length, bodyBytes_);
            part != Part::Whole)
            return unfinished(part);
        return finish(Record::Failure);
    }
    // A block of samples, read straight onto the end of the samples so far.
    if (bodyBytes_ == 0)
        blockStart_ = samples.size();
    samples.resize(blockStart_ + tag);
    if (const Part part = readPart(fd, block, reinterpret_cast<char*>(samples.data() + blockStart_),
                                   std::size_t{tag} * sizeof(std::int16_t), bodyBytes_);
        part != Part::Whole)
        return unfinished(part);
    return finish(Record::Samples);
}

} // namespace kestrova::speech
