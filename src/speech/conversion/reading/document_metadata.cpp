#include "speech/base/utf8.h"
#include "speech/conversion/reading/structured_reading.h"
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
    const std::filesystem::file_status status = std::filesystem::status(request.output, error);
    return request.toStandardOutput ||
           (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status));
}

void adoptTag(std::optional<std::string>& tag, const std::string& value, bool latin1Only) {
    if (tag || value.empty() || (latin1Only && !fitsLatin1(value)))
        return;
    tag = value;
}

} // namespace

void adoptDocumentMetadata(ConversionRequest& request, const VoiceRegistry& registry,
                           bool chooseVoice, const std::atomic<bool>* cancel) {
    if (!isStructured(request.inputKind))
        return;
    std::unique_ptr<StructuredDocument> document;
    try {
        document = openDocument(request, {}, cancel);
    } catch (const ConversionCancelled&) {
        throwIfCancelled(cancel, request);
        throw;
    }
    const DocumentMetadata& metadata = document->metadata();
    const Container container = chosenContainer(request);
    if (holdsTags(container)) {
        const bool latin1Only =
            containerRow(container).streamTags == StreamTags::Latin1 && streamed(request);
        adoptTag(request.tags.title, metadata.title, latin1Only);
        adoptTag(request.tags.artist, metadata.author, latin1Only);
        adoptTag(request.tags.date, metadata.date, latin1Only);
        if (!request.tags.cover && !metadata.coverBytes.empty())
            request.tags.cover =
                CoverArt{.mediaType = metadata.coverType, .bytes = metadata.coverBytes};
    }
    if (!chooseVoice || metadata.language.empty())
        return;
    const std::string kind = inputKindRow(request.inputKind).fileKind;
    // Shown as it is, as it always was, unless it could break the line or flood it.
    const std::string language = shownValue(metadata.language);
    if (const std::optional<Voice> voice = registry.voiceForLanguage(metadata.language)) {
        request.voice = *voice;
        request.voiceChoice = "the " + kind + "'s language, " + language;
    } else {
        request.voiceChoice = "no voice speaks the " + kind + "'s language, " + language;
    }
}

} // namespace kestrova::speech
