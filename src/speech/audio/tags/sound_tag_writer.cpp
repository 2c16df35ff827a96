#include "sound_tag_writer.h"

#include "speech/base/iconv_converter.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"

#include <tuple>
#include <utility>

namespace kestrova::speech {
namespace {

// An encoder that stores the text it is given as Latin-1 (LAME) would read UTF-8 back garbled.
std::string toLatin1(const std::string& utf8, const char* tagName, const ContainerRow& row,
                     const std::filesystem::path& shownAs) {
    IconvConverter converter("ISO-8859-1", "UTF-8");
    std::string_view rest = utf8;
    std::string latin1;
    if (converter.convert(rest, latin1) != IconvConverter::Stop::Done || !rest.empty())
        throw FileError(outputFailure(shownAs,
                                      std::string("the ") + tagName + " tag " + quotedName(utf8) +
                                          " has characters an " + row.name +
                                          " tag cannot hold (Latin-1 only)",
                                      row.fileKind));
    return latin1;
}

} // namespace

SoundTagStrings soundTagStrings(Container container, const SoundTags& tags,
                                const std::filesystem::path& shownAs) {
    const std::tuple<int, const char*, const std::optional<std::string>*> fields[] = {
        {SF_STR_TITLE, "title", &tags.title},       {SF_STR_ARTIST, "artist", &tags.artist},
        {SF_STR_ALBUM, "album", &tags.album},       {SF_STR_GENRE, "genre", &tags.genre},
        {SF_STR_DATE, "date", &tags.date},          {SF_STR_COMMENT, "comment", &tags.comment},
        {SF_STR_TRACKNUMBER, "track", &tags.track}, {SF_STR_SOFTWARE, "software", &tags.software}};
    SoundTagStrings strings;
    for (const auto& [type, name, value] : fields) {
        if (!*value)
            continue;
        if (!holdsTags(container))
            throw FileError(outputFailure(shownAs,
                                          std::string(containerRow(container).namedInSentence) +
                                              " cannot hold tags such as the " + name,
                                          soundFileKind(container)));
        const ContainerRow& row = containerRow(container);
        strings.emplace_back(type, row.streamTags == StreamTags::Latin1
                                       ? toLatin1(**value, name, row, shownAs)
                                       : **value);
    }
    return strings;
}

void writeSoundTags(SNDFILE* file, const SoundTagStrings& strings,
                    const std::filesystem::path& shownAs, std::string_view fileKind) {
    for (const auto& [type, text] : strings)
        if (sf_set_string(file, type, text.c_str()) != 0)
            throw FileError(outputFailure(
                shownAs, std::string("cannot write its tags: ") + sf_strerror(file), fileKind));
}

} // namespace kestrova::speech
