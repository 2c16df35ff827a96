#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The SMIL document that plays one content document's narration with its text.
namespace kestrova::speech::read_along {

// One sentence: its span's id in the content document and its clip of the audio file, in
// milliseconds from the file's start.
struct OverlayClip {
    std::string spanId;
    std::uint64_t beginMs = 0;
    std::uint64_t endMs = 0;
};

// "12.345s": a clip's place, to the millisecond.
std::string clipClock(std::uint64_t ms);
// "0:01:02.345": a duration in the package's metadata.
std::string durationClock(std::uint64_t ms);

// The SMIL document: one par per clip, in the order given (the document's), its text at
// textHref#id and its audio in audioHref; both references relative to the SMIL document.
std::string overlayDocument(std::string_view textHref, std::string_view audioHref,
                            const std::vector<OverlayClip>& clips);

} // namespace kestrova::speech::read_along
