#pragma once

#include "convert_options.h"
#include "speech/converter.h"
#include "speech/voice.h"

#include <vector>

namespace kestrova::cli {

// The conversions the options ask for, one per input, with their voice found in the registry
// (which must outlive them).
std::vector<speech::ConversionRequest> conversionRequests(const ConvertOptions& options,
                                                          const speech::VoiceRegistry& registry);

// Before anything is rendered or created: no two paths of a conversion, nor two outputs of a
// batch, are one file (bad usage); the side files can be written.
void checkPaths(const ConvertOptions& options,
                const std::vector<speech::ConversionRequest>& requests);

// The folder of -d, made with its parents where missing.
void makeFolder(const std::string& folder);

} // namespace kestrova::cli
