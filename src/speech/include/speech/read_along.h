#pragma once

#include "speech/conversion_plan.h"
#include "speech/converter.h"

#include <atomic>

namespace kestrova::speech {

// Converts the plan's input into a read-along book at request.output.path: an EPUB 3 whose
// narration highlights each sentence as it is spoken (Media Overlays). An EPUB keeps every
// entry as it is but the narrated content documents, which get a span around each spoken
// sentence and a style sheet's link, and the package document, which gets the overlays, their
// audio and the narration's metadata (an EPUB 2 book is made EPUB 3 on the way); any other
// input becomes a new EPUB 3 of what was read aloud, a content document per chapter. Each
// narrated content document gets one audio file in request.output.container (MP3 when none) at
// the request's format, cut from one rendering of the whole book, and one SMIL document. The
// book appears whole or not at all, as every output does. The result's timings are those of
// the whole narration.
ConversionResult convertToReadAlongBook(ConversionPlan& plan, const ProgressCallback& progress = {},
                                        const std::atomic<bool>* cancel = nullptr);

} // namespace kestrova::speech
