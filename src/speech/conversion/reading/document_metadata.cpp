#include "speech/base/utf8.h"
#include "speech/conversion/reading/planned_input.h"
#include "speech/conversion/request_rules.h"
#include "speech/converter.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"

#include <filesystem>

namespace kestrova::speech {
namespace {

// A stream whose encoder writes Latin-1 tags (MP3's, LAME's): a tag the book gives beyond it
// is left out rather than failing a conversion that never asked for it.
bool fitsLatin1(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint character = codePointAt(text.substr(at));
        if (character.value < 0 || character.value > 0xFF)
            return false;
        at += character.length;
    }
    return true;
}

// Standard output, or a FIFO or a device at the path: the sound is streamed.
bool streamed(const ConversionRequest& request) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(request.output.path, error);
    return request.output.toStandardOutput ||
           (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status));
}

void adoptTag(std::optional<std::string>& tag, const std::string& value, bool latin1Only) {
    if (tag || value.empty() || (latin1Only && !fitsLatin1(value)))
        return;
    tag = value;
}

} // namespace

void adoptDocumentMetadata(ConversionRequest& request, const DocumentMetadata& metadata,
                           const VoiceRegistry* voiceByLanguage) {
    const Container container = chosenContainer(request);
    if (holdsTags(container)) {
        const bool latin1Only =
            containerRow(container).streamTags == StreamTags::Latin1 && streamed(request);
        adoptTag(request.output.tags.title, metadata.title, latin1Only);
        adoptTag(request.output.tags.artist, metadata.author, latin1Only);
        adoptTag(request.output.tags.date, metadata.date, latin1Only);
        if (!request.output.tags.cover && !metadata.coverBytes.empty())
            request.output.tags.cover =
                CoverArt{.mediaType = metadata.coverType, .bytes = metadata.coverBytes};
    }
    if (!voiceByLanguage || metadata.language.empty())
        return;
    const std::string kind = inputKindRow(request.input.kind).fileKind;
    // Shown as it is, as it always was, unless it could break the line or flood it.
    const std::string language = shownValue(metadata.language);
    if (const std::optional<Voice> voice = voiceByLanguage->voiceForLanguage(metadata.language)) {
        request.speech.voice = *voice;
        request.speech.voiceChoice = "the " + kind + "'s language, " + language;
    } else {
        request.speech.voiceChoice = "no voice speaks the " + kind + "'s language, " + language;
    }
}

} // namespace kestrova::speech
