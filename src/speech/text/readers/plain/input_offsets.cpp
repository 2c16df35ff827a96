#include "input_offsets.h"

#include "speech/base/utf8.h"

#include <algorithm>

namespace kestrova::speech {

InputOffsets::InputOffsets(TextEncoding encoding, std::uint64_t markLength)
    : encoding_(encoding), fileBytes_(markLength) {}

std::uint64_t InputOffsets::bytesOf(std::string_view decoded) const {
    switch (encoding_) {
    case TextEncoding::Automatic:
    case TextEncoding::Utf8:
        return decoded.size();
    case TextEncoding::Windows1252:
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE: {
        const auto characters = static_cast<std::uint64_t>(characterCount(decoded));
        return encoding_ == TextEncoding::Windows1252 ? characters : 4 * characters;
    }
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        std::uint64_t bytes = 0;
        for (char c : decoded) {
            if (announcedLength(c) == 4)
                bytes += 4; // a surrogate pair
            else if (!isContinuationByte(c))
                bytes += 2;
        }
        return bytes;
    }
    }
    return decoded.size();
}

void InputOffsets::skip(std::string_view decoded) {
    // Only what comes before the kept text moves the start; what follows it counts for nothing.
    if (pending_.empty() && consumed_ == 0)
        fileBytes_ += bytesOf(decoded);
}

void InputOffsets::keep(std::string_view decoded) {
    pending_.append(decoded);
}

std::uint64_t InputOffsets::offsetOf(std::uint64_t position) {
    const std::size_t passed = static_cast<std::size_t>(
        std::min<std::uint64_t>(position - std::min(position, consumed_), pending_.size()));
    fileBytes_ += bytesOf(std::string_view(pending_).substr(0, passed));
    consumed_ += passed;
    pending_.erase(0, passed);
    return fileBytes_;
}

} // namespace kestrova::speech
