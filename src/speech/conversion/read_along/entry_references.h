#pragma once

#include <string>
#include <string_view>

namespace kestrova::speech::read_along {

// The reference from the entry `from` to the entry `to` of one book ("../audio/a.mp3"),
// relative to from's folder, each byte that a URL path cannot hold as it is percent-encoded.
std::string referenceBetween(std::string_view from, std::string_view to);

// The entry's folder with its slash ("EPUB/text/"), or "" at the top.
std::string_view folderOf(std::string_view entry);

} // namespace kestrova::speech::read_along
