#include "speech/conversion/request_rules.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <algorithm>

namespace kestrova::speech {

Container chosenContainer(const ConversionRequest& request) {
    if (!request.output.toStandardOutput && !request.chapters.split &&
        OutputTarget::isFifo(request.output.path))
        return streamedContainer(request.output.container, request.output.path);
    return askedContainer(request);
}

Container askedContainer(const ConversionRequest& request) {
    return writtenContainer(request.output.container, request.output.path,
                            request.output.toStandardOutput);
}

OutputTarget::Options soundTargetOptions(const ConversionRequest& request,
                                         const std::atomic<bool>* cancel) {
    return {.replaceExisting = request.output.replaceExisting,
            .standardOutput = request.output.toStandardOutput,
            .container = request.output.container,
            .cancel = cancel,
            .fileKind = soundFileKind(chosenContainer(request))};
}

ConversionCancelled cancelledConversion(const ConversionRequest& request) {
    return ConversionCancelled(outputFailure(request.output.path, "the conversion was cancelled",
                                             soundFileKind(chosenContainer(request))));
}

void throwIfCancelled(const std::atomic<bool>* cancel, const ConversionRequest& request) {
    if (cancel && cancel->load())
        throw cancelledConversion(request);
}

Prosody askedProsody(const VoiceControls& controls) {
    return {.rate = controls.ratePercent / 100.0,
            .pitch = controls.pitchPercent / 100.0,
            .volume = controls.volumePercent / 100.0};
}

PauseSettings pausesOf(const VoiceControls& controls) {
    return {.sentenceMs = controls.sentencePauseMs, .paragraphMs = controls.paragraphPauseMs};
}

Prosody combined(const Prosody& asked, const Prosody& run) {
    // Held to the ranges the options accept, as each level of markup is.
    return {.rate = rateRange.clamped(asked.rate * run.rate),
            .pitch = pitchRange.clamped(asked.pitch * run.pitch),
            .volume = asked.volume * run.volume};
}

bool readsMarkup(const ConversionRequest& request) {
    return request.speech.controls.ssml || request.input.kind == InputKind::Ssml;
}

std::optional<int> chapterPauseOf(const ConversionRequest& request) {
    if (request.chapters.pauseMs || !isStructured(request.input.kind))
        return request.chapters.pauseMs;
    return defaultDocumentChapterPauseMs;
}

TextChunker chunkerFor(bool timed, const Voice& voice) {
    return timed ? TextChunker(1, TextChunker::defaultLimitBytes, voice.language)
                 : TextChunker(TextChunker::defaultTargetBytes, TextChunker::defaultLimitBytes,
                               voice.language);
}

} // namespace kestrova::speech
