#pragma once

#include "speech/text_encoding.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova::speech {

// Where the decoded text stands in the file it came from. The decoder keeps every character
// (a control character becomes a space of the same count), so the file's bytes follow from
// the encoding: UTF-8 and Windows-1252 byte for byte or character for byte, UTF-16 two bytes
// a character and four for those beyond the Basic Multilingual Plane, UTF-32 four. (Where
// the decoder replaced a broken sequence, the offsets after it are off by the difference.)
//
// The text is followed in order: skip() what was read but not kept, keep() what the
// positions count, then offsetOf() positions of the kept text, in increasing order.
class InputOffsets {
public:
    InputOffsets(TextEncoding encoding, std::uint64_t markLength);

    void skip(std::string_view decoded);
    void keep(std::string_view decoded);
    // The byte of the file at which the kept text's byte `position` stands.
    std::uint64_t offsetOf(std::uint64_t position);

private:
    std::uint64_t bytesOf(std::string_view decoded) const;

    TextEncoding encoding_;
    std::uint64_t fileBytes_;    // file bytes up to the first byte of pending_
    std::uint64_t consumed_ = 0; // kept bytes before pending_
    std::string pending_;        // kept text not yet passed by a query
};

} // namespace kestrova::speech
