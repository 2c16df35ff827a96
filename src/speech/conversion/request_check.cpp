#include "speech/request_check.h"

#include "speech/audio_format.h"
#include "speech/conversion/request_rules.h"
#include "speech/quoted_name.h"

#include <optional>
#include <string>
#include <utility>

namespace kestrova::speech {
namespace {

[[noreturn]] void refuseUsage(const std::string& message) {
    throw RequestRefused(RefusalKind::Usage, message);
}

// What a structured document's reader leaves out is no choice for a stream of text.
void checkDocumentChoices(const ConversionRequest& request, InputKindSettled kind) {
    if (!request.input.documentChoices.any() || kind == InputKindSettled::NotYet ||
        isStructured(request.input.kind))
        return;
    const char* const input = kind == InputKindSettled::FoundByContent ? "plain text or SSML"
                              : readsMarkup(request)                   ? "SSML"
                                                                       : "plain text";
    refuseUsage(std::string("--read-alt, --read-notes and --read-code choose what a document's "
                            "reader leaves out: not with ") +
                input + " input");
}

// Each chapter's file is named beside the output: a stream has no name to put them beside.
void checkSplitIntoFiles(const ConversionRequest& request) {
    if (request.chapters.split && request.output.toStandardOutput)
        refuseUsage("--split-chapters writes files: not standard output");
}

// Markup has its own structure: no headings are looked for in it.
void checkSplitOfMarkup(const ConversionRequest& request, InputKindSettled kind) {
    if (!request.chapters.split || !readsMarkup(request))
        return;
    if (kind == InputKindSettled::FoundByContent)
        refuseUsage("the SSML document " + quotedName(request.input.path.native()) +
                    " cannot be split into chapters: chapters are found in plain text only");
    refuseUsage("chapters are found in plain text: not --split-chapters with --ssml");
}

// A bit rate only an encoder that takes one is given: M4B's AAC, MP3's constant rate.
void checkBitrateApplies(const ConversionRequest& request) {
    const Container container = askedContainer(request);
    if (request.output.bitrateKbps && container != Container::M4b && container != Container::Mp3)
        refuseUsage(std::string("--bitrate sets the bit rate of an M4B or MP3 file: not of ") +
                    containerRow(container).namedInSentence);
}

// libsndfile sets a constant rate only on MPEG-1 Layer III, 32 kHz and up.
void checkConstantMp3Bitrate(const ConversionRequest& request) {
    const Container container = askedContainer(request);
    if (container != Container::Mp3 || !request.output.bitrateKbps)
        return;
    const int rate = writtenFormat(container, request.output.format).sampleRate;
    const int kbps = *request.output.bitrateKbps;
    if (rate < 32000 || kbps < 32)
        refuseUsage("a constant MP3 bit rate needs 32 kHz or more (-f 28 to 37) and 32 kb/s or "
                    "more: not " +
                    std::to_string(rate) + " Hz at " + std::to_string(kbps) + " kb/s");
}

// Tags and a cover go only into a type that holds them, where the asker names the type (a
// type chosen by the file's ending takes what it can hold, and says what it leaves out).
void checkTagsHeld(const ConversionRequest& request) {
    const std::optional<Container> named = request.output.container;
    if (!named)
        return;
    const bool asksCover = request.output.tags.cover || !request.output.coverFile.empty();
    const bool asksTags = request.output.tags.hasText() || asksCover;
    if ((asksTags && !holdsTags(*named)) || (asksCover && !containerRow(*named).holdsCover))
        refuseUsage("tags need a file type that holds them: " +
                    typeNamesWhere(&ContainerRow::holdsTags, "or"));
}

// A cover is edited into a complete file, which a stream never is.
void checkCoverIntoFile(const ConversionRequest& request) {
    const bool asksCover = request.output.tags.cover || !request.output.coverFile.empty();
    if (asksCover && request.output.toStandardOutput)
        refuseUsage("--cover is written into a complete file: not into standard output");
}

// Each silence asked for, from none to a minute.
void checkPauses(const ConversionRequest& request) {
    const std::pair<const char*, std::optional<int>> pauses[] = {
        {"sentence pause", request.speech.controls.sentencePauseMs},
        {"paragraph pause", request.speech.controls.paragraphPauseMs},
        {"chapter pause", request.chapters.pauseMs},
        {"lead-in", request.mastering.leadInMs},
        {"tail", request.mastering.tailMs}};
    for (const auto& [name, pause] : pauses)
        if (pause && (*pause < 0 || *pause > maximumPauseMs))
            refuseUsage(std::string("the ") + name + " of " + std::to_string(*pause) +
                        " ms is refused: a silence is from 0 to " + std::to_string(maximumPauseMs) +
                        " ms");
}

} // namespace

void checkRequest(const ConversionRequest& request, InputKindSettled kind) {
    checkDocumentChoices(request, kind);
    checkSplitIntoFiles(request);
    checkSplitOfMarkup(request, kind);
    checkBitrateApplies(request);
    checkConstantMp3Bitrate(request);
    checkTagsHeld(request);
    checkCoverIntoFile(request);
    checkPauses(request);
}

} // namespace kestrova::speech
