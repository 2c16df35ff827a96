#pragma once

#include "convert_options.h"
#include "speech/conversion_plan.h"
#include "speech/voice.h"

#include <atomic>
#include <vector>

namespace kestrova::cli {

// The conversion the options ask for, as far as they state it without reading a file: no
// voice looked up, no cover read, its input and output as given; its input's kind where named.
speech::ConversionRequest askedRequest(const ConvertOptions& options);

// The conversions the options ask for, one per input, with their voice found in the registry
// (which must outlive them); standard input is read here.
std::vector<speech::ConversionRequest> conversionRequests(const ConvertOptions& options,
                                                          const speech::VoiceRegistry& registry);

// Each request planned: one input is opened once, here, and kept open for its conversion (a
// set cancel flag stops its reading); each of several is planned for the checks and read again
// when converted.
std::vector<speech::ConversionPlan> conversionPlans(const ConvertOptions& options,
                                                    const speech::VoiceRegistry& registry,
                                                    std::vector<speech::ConversionRequest> requests,
                                                    const std::atomic<bool>* cancel);

// Before anything is rendered or created: no two paths of a conversion, nor two outputs of a
// batch, are one file (bad usage); the side files can be written.
void checkPaths(const ConvertOptions& options, const std::vector<speech::ConversionPlan>& plans);

// The folder of -d, made with its parents where missing.
void makeFolder(const std::string& folder);

} // namespace kestrova::cli
