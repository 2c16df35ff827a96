#include "speech/conversion/request_rules.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <algorithm>

namespace kestrova::speech {

Container chosenContainer(const ConversionRequest& request) {
    return request.container.value_or(request.toStandardOutput ? Container::Au
                                                               : containerForPath(request.output));
}

void throwIfCancelled(const std::atomic<bool>* cancel, const ConversionRequest& request) {
    if (cancel && cancel->load())
        throw ConversionCancelled(outputFailure(request.output, "the conversion was cancelled",
                                                soundFileKind(chosenContainer(request))));
}

Prosody askedProsody(const VoiceControls& controls) {
    return {controls.ratePercent / 100.0, controls.pitchPercent / 100.0,
            controls.volumePercent / 100.0};
}

PauseSettings pausesOf(const VoiceControls& controls) {
    return {controls.sentencePauseMs, controls.paragraphPauseMs};
}

Prosody combined(const Prosody& asked, const Prosody& run) {
    // Held to the ranges the options accept, as each level of markup is.
    return {std::clamp(asked.rate * run.rate, 0.25, 4.0),
            std::clamp(asked.pitch * run.pitch, 0.5, 2.0), asked.volume * run.volume};
}

TextChunker chunkerFor(bool timed, const Voice& voice) {
    return timed ? TextChunker(1, TextChunker::defaultLimitBytes, voice.language)
                 : TextChunker(TextChunker::defaultTargetBytes, TextChunker::defaultLimitBytes,
                               voice.language);
}

} // namespace kestrova::speech
