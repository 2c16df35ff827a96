#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/zip/zip_archive.h"

#include <memory>

namespace kestrova::speech {

// What a book may make us hold beyond the archive's own entry limit.
struct EpubLimits {
    std::uint64_t xmlBytes = std::uint64_t{16} << 20;   // container, package, navigation, NCX
    std::uint64_t coverBytes = std::uint64_t{16} << 20; // larger covers are left out
    // The declared sizes of all the entries one reading takes in (its pages and cover).
    std::uint64_t readingBytes = std::uint64_t{1} << 30;
};

// openEpub on an archive already open (the fuzz target's, held in memory).
std::unique_ptr<StructuredDocument> openEpubArchive(std::unique_ptr<ZipArchive> archive,
                                                    const DocumentOptions& options,
                                                    EpubLimits limits = {});

} // namespace kestrova::speech
