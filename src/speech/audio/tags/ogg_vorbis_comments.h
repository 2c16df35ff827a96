#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::speech {

// The length of the Ogg page at the start of bytes when it is whole there; none while not.
std::optional<std::size_t> oggPageLength(std::string_view bytes);

// Sets a whole page's stream serial number and makes its checksum anew.
void setOggSerialNumber(std::string& page, std::uint32_t serial);

// libsndfile gives every Ogg Vorbis file the comment ENCODER=libsndfile, a tag nobody asked
// for. These take it out of the file's first two pages (the identification header, then the
// comment and setup headers), as they stand before any sound.

// The length of the first two Ogg pages when bytes holds both whole; none while it does not.
std::optional<std::size_t> oggHeadLength(std::string_view bytes);

// The two pages with the comment removed from the comment header, the second page's lacing
// and checksum made anew; the pages unchanged when the comment is not there or the comment
// header does not end on the second page.
std::string withoutOggComment(std::string_view head, std::string_view comment);

} // namespace kestrova::speech
