#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/zip/zip_archive.h"

#include <memory>

namespace kestrova::speech {

// openOdt on an archive already open (the fuzz target's, held in memory).
std::unique_ptr<StructuredDocument> openOdtArchive(std::unique_ptr<ZipArchive> archive,
                                                   const DocumentOptions& options);

} // namespace kestrova::speech
