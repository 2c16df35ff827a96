#include "speech/base/utf8.h"
#include "speech/conversion/request_rules.h"
#include "speech/conversion/structured_reading.h"
#include "speech/converter.h"

namespace kestrova::speech {
namespace {

// LAME stores tags as Latin-1: a tag the book gives beyond it is left out rather than failing
// a conversion that never asked for it.
bool fitsLatin1(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint character = codePointAt(text.substr(at));
        if (character.value < 0 || character.value > 0xFF)
            return false;
        at += character.length;
    }
    return true;
}

void adoptTag(std::optional<std::string>& tag, const std::string& value, Container container) {
    if (tag || value.empty() || (container == Container::Mp3 && !fitsLatin1(value)))
        return;
    tag = value;
}

} // namespace

void adoptDocumentMetadata(ConversionRequest& request, const VoiceRegistry& registry,
                           bool chooseVoice) {
    if (!isStructured(request.inputKind))
        return;
    const std::unique_ptr<StructuredDocument> document = openDocument(request, {}, nullptr);
    const DocumentMetadata& metadata = document->metadata();
    const Container container = chosenContainer(request);
    if (holdsTags(container)) {
        adoptTag(request.tags.title, metadata.title, container);
        adoptTag(request.tags.artist, metadata.author, container);
        adoptTag(request.tags.date, metadata.date, container);
        if (!request.tags.cover && !metadata.coverBytes.empty())
            request.tags.cover =
                CoverArt{.mediaType = metadata.coverType, .bytes = metadata.coverBytes};
    }
    if (!chooseVoice || metadata.language.empty())
        return;
    const std::string kind = inputKindRow(request.inputKind).fileKind;
    if (const std::optional<Voice> voice = registry.voiceForLanguage(metadata.language)) {
        request.voice = *voice;
        request.voiceChoice = "the " + kind + "'s language, " + metadata.language;
    } else {
        request.voiceChoice = "no voice speaks the " + kind + "'s language, " + metadata.language;
    }
}

} // namespace kestrova::speech
