#pragma once

#include "convert_options.h"

#include <CLI/CLI.hpp>

namespace kestrova::cli {

// The options of "convert", each with its validation and help, read into options; the help's
// lists of containers come from the container table.
void declareConvertOptions(CLI::App* convertCommand, ConvertOptions& options);

} // namespace kestrova::cli
