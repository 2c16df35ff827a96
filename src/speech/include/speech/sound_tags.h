#pragma once

#include <optional>
#include <string>

namespace kestrova::speech {

// A picture a sound file carries as its cover: the image's own bytes, JPEG or PNG.
struct CoverArt {
    std::string mediaType; // "image/jpeg" or "image/png"
    std::string bytes;
};

// The text tags a sound file is given, UTF-8; an absent one is not written. WAV (its INFO
// chunk), FLAC, Ogg Vorbis, Opus and MP3 hold them; AU and raw PCM cannot.
struct SoundTags {
    std::optional<std::string> title;
    std::optional<std::string> artist;
    std::optional<std::string> album;
    std::optional<std::string> genre;
    std::optional<std::string> date;
    std::optional<std::string> comment;
    std::optional<std::string> track; // "3" or "3/12"
    std::optional<std::string> software;
    // Not a text tag, but given with them to the containers that hold pictures.
    std::optional<CoverArt> cover;

    bool hasText() const {
        return title || artist || album || genre || date || comment || track || software;
    }
    bool empty() const { return !hasText() && !cover; }
};

} // namespace kestrova::speech
