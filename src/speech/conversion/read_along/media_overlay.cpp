#include "speech/conversion/read_along/media_overlay.h"

#include <cstdio>

namespace kestrova::speech::read_along {

std::string clipClock(std::uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llus", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned long long>(ms % 1000));
    return text;
}

std::string durationClock(std::uint64_t ms) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%03llu",
                  static_cast<unsigned long long>(ms / 3'600'000),
                  static_cast<unsigned long long>(ms / 60'000 % 60),
                  static_cast<unsigned long long>(ms / 1000 % 60),
                  static_cast<unsigned long long>(ms % 1000));
    return text;
}

std::string overlayDocument(std::string_view textHref, std::string_view audioHref,
                            const std::vector<OverlayClip>& clips) {
    // The hrefs and ids are made by the book's writer from names it checked, so they need
    // no escaping beyond what the caller did.
    std::string smil = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<smil xmlns=\"http://www.w3.org/ns/SMIL\" "
                       "xmlns:epub=\"http://www.idpf.org/2007/ops\" version=\"3.0\">\n"
                       "<body>\n";
    unsigned number = 0;
    for (const OverlayClip& clip : clips) {
        smil.append("<par id=\"par").append(std::to_string(++number)).append("\">");
        smil.append("<text src=\"").append(textHref).append("#").append(clip.spanId).append("\"/>");
        smil.append("<audio src=\"").append(audioHref).append("\" clipBegin=\"");
        smil.append(clipClock(clip.beginMs)).append("\" clipEnd=\"");
        smil.append(clipClock(clip.endMs)).append("\"/></par>\n");
    }
    smil.append("</body>\n</smil>\n");
    return smil;
}

} // namespace kestrova::speech::read_along
