#include "sound_tag_writer.h"

#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/iconv_converter.h"

#include <utility>

namespace kestrova::speech {
namespace {

const char* containerName(Container container) {
    switch (container) {
    case Container::Wave:
        return "a WAV file";
    case Container::Flac:
        return "a FLAC file";
    case Container::OggVorbis:
        return "an Ogg Vorbis file";
    case Container::OggOpus:
        return "an Opus file";
    case Container::Mp3:
        return "an MP3 file";
    case Container::Au:
        return "an AU file";
    case Container::Raw:
        return "raw PCM";
    }
    return "this file type";
}

// LAME stores the text it is given as Latin-1: UTF-8 would read back garbled.
std::string toLatin1(const std::string& utf8, const char* tagName,
                     const std::filesystem::path& shownAs) {
    IconvConverter converter("ISO-8859-1", "UTF-8");
    std::string_view rest = utf8;
    std::string latin1;
    if (converter.convert(rest, latin1) != IconvConverter::Stop::Done || !rest.empty())
        throw FileError(outputFailure(shownAs, std::string("the ") + tagName + " tag " +
                                                   quotedName(utf8) +
                                                   " has characters an MP3 tag cannot hold "
                                                   "(Latin-1 only)"));
    return latin1;
}

} // namespace

void writeSoundTags(SNDFILE* file, Container container, const SoundTags& tags,
                    const std::filesystem::path& shownAs) {
    if (tags.empty())
        return;
    const std::pair<int, const std::optional<std::string>*> fields[] = {
        {SF_STR_TITLE, &tags.title},       {SF_STR_ARTIST, &tags.artist},
        {SF_STR_ALBUM, &tags.album},       {SF_STR_GENRE, &tags.genre},
        {SF_STR_DATE, &tags.date},         {SF_STR_COMMENT, &tags.comment},
        {SF_STR_TRACKNUMBER, &tags.track}, {SF_STR_SOFTWARE, &tags.software}};
    const char* names[] = {"title", "artist",  "album", "genre",
                           "date",  "comment", "track", "software"};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        const auto& [type, value] = fields[i];
        if (!*value)
            continue;
        const std::string text =
            container == Container::Mp3 ? toLatin1(**value, names[i], shownAs) : **value;
        if (sf_set_string(file, type, text.c_str()) != 0)
            // libsndfile's own message here is "No Error.": say what it refused.
            throw FileError(outputFailure(shownAs, std::string(containerName(container)) +
                                                       " cannot hold the " + names[i] + " tag"));
    }
}

} // namespace kestrova::speech
