#pragma once

#include "convert_options.h"
#include "speech/conversion_plan.h"
#include "speech/voice.h"

#include <atomic>
#include <vector>

namespace kestrova::cli {

// The conversions the options ask for, one per input, each planned with its voice found in the
// registry (which must outlive them). One input is opened once, here, and kept open for its
// conversion; each of several is planned for the checks and read again when converted.
// A set cancel flag stops the reading of the one input.
std::vector<speech::ConversionPlan> conversionPlans(const ConvertOptions& options,
                                                    const speech::VoiceRegistry& registry,
                                                    const std::atomic<bool>* cancel);

// Before anything is rendered or created: no two paths of a conversion, nor two outputs of a
// batch, are one file (bad usage); the side files can be written.
void checkPaths(const ConvertOptions& options, const std::vector<speech::ConversionPlan>& plans);

// The folder of -d, made with its parents where missing.
void makeFolder(const std::string& folder);

} // namespace kestrova::cli
