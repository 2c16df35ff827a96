#pragma once

#include "speech/audio/output_files/output_target.h"
#include "speech/converter.h"
#include "speech/render/render_task.h"
#include "speech/speech_error.h"
#include "speech/text/script/speech_script.h"
#include "speech/text/script/text_chunker.h"

#include <atomic>
#include <optional>

namespace kestrova::speech {

// The container the sound is written in, as far as it is known before the output is opened:
// into standard output or a FIFO, one that streams (AU where none is chosen and the name
// chooses none that streams, as for "fifo.m4b"), so that every message names what the stream
// takes.
Container chosenContainer(const ConversionRequest& request);
// The container the request asks for by its type, name and stream alone (a FIFO not looked
// for): what the rules of a request are stated over, before any file is looked at.
Container askedContainer(const ConversionRequest& request);

// How the sound's files are opened: the request's rules, and the container's kind in messages.
OutputTarget::Options soundTargetOptions(const ConversionRequest& request,
                                         const std::atomic<bool>* cancel);

// A stop of the conversion, named as its sound file: "cannot write ...: the conversion was
// cancelled", wherever the stop found it.
ConversionCancelled cancelledConversion(const ConversionRequest& request);

// Throws ConversionCancelled, naming the output, once the flag is set.
void throwIfCancelled(const std::atomic<bool>* cancel, const ConversionRequest& request);

// The prosody the controls ask for, as fractions of the voice's own.
Prosody askedProsody(const VoiceControls& controls);

PauseSettings pausesOf(const VoiceControls& controls);

// Markup's prosody is relative to what the options ask for.
Prosody combined(const Prosody& asked, const Prosody& run);

// The text is read as SSML: asked for by its kind or by the controls.
bool readsMarkup(const ConversionRequest& request);

// The silence before each chapter: the request's, else a structured document's default.
std::optional<int> chapterPauseOf(const ConversionRequest& request);

// With timings (timed), every sentence is a chunk of its own, so that each lands in a chunk's
// sound. Sentences end by the conventions of the voice's language.
TextChunker chunkerFor(bool timed, const Voice& voice);

} // namespace kestrova::speech
