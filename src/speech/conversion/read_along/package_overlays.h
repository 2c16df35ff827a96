#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The package document of a read-along book: the input's, with its overlays, their audio and
// the style sheet in the manifest, each narrated content document pointing at its overlay,
// and the metadata of the narration.
namespace kestrova::speech::read_along {

struct NarratedDocument {
    std::string contentEntry; // "EPUB/text/ch001.xhtml"
    std::string overlayEntry; // its SMIL document
    std::string audioEntry;
    std::string audioMediaType; // "audio/mpeg"
    std::uint64_t durationMs = 0;
};

struct Narration {
    std::vector<NarratedDocument> documents;
    std::string styleSheetEntry;
    std::string activeClass;
    std::string narrator; // the voice's name
    // An EPUB 2 book made EPUB 3: its navigation document made here, and its last change
    // (dcterms:modified, "2024-05-01T10:00:00Z") where it says none. Empty: an EPUB 3 book.
    std::string navEntry;
    std::string modified;
};

// The package document at packageEntry with the narration in it; the rest of it as libxml2
// reads and writes it. An EPUB 2 package becomes version 3.0, its creators' opf:role and
// opf:file-as attributes refining metas. Throws through fail (which must not return) for a document
// it cannot read or a narrated document missing from its manifest.
std::string narratedPackage(std::string_view packageXml, const std::string& packageEntry,
                            const Narration& narration,
                            const std::function<void(const std::string&)>& fail);

// The manifest's XHTML documents, by entry.
std::vector<std::string> xhtmlEntries(std::string_view packageXml, const std::string& packageEntry,
                                      const std::function<void(const std::string&)>& fail);

} // namespace kestrova::speech::read_along
