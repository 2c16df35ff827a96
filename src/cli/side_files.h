#pragma once

#include "convert_options.h"
#include "speech/conversion_plan.h"

namespace kestrova::cli {

// The side files (timings, subtitles, cue sheet), as far as they can be known before the
// sound is rendered: a name a cue sheet cannot hold is bad usage; a file -n will not replace,
// or more tracks than a cue sheet holds, a failure.
void checkSideFiles(const ConvertOptions& options, const speech::ConversionPlan& plan);

// The timings, subtitles and cue sheet, written once the sound is complete.
void writeSideFiles(const ConvertOptions& options, const speech::ConversionPlan& plan,
                    const speech::ConversionResult& result);

} // namespace kestrova::cli
