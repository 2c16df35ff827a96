#pragma once

#include "speech/text/readers/document.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A book's package document (OPF) and the container that names it, EPUB 2 and 3 alike.
namespace kestrova::speech::epub {

// A place inside the book: an entry's name and an element id there ("" for the entry's start).
struct BookPlace {
    std::string entry;
    std::string fragment;
    auto operator<=>(const BookPlace&) const = default;
};

// A reference (href, src) in the entry `from`, as the entry and fragment it points at: the
// path resolved against from's folder, percent-decoded, "." and ".." taken out. Nothing for
// a reference to the outside (a scheme such as http:, mailto:) or an empty path that is not
// a bare fragment.
std::optional<BookPlace> resolveReference(std::string_view from, std::string_view reference);

// "%20" as " "; a malformed escape left as it is.
std::string percentDecoded(std::string_view text);

struct SpineItem {
    std::string entry;     // "OEBPS/text/ch1.xhtml"
    std::string mediaType; // as the manifest gives it
    bool linear = true;
};

struct Package {
    int majorVersion = 2;      // 2 or 3, from the package's version attribute
    DocumentMetadata metadata; // the cover's bytes not yet read
    std::string coverEntry;    // the cover image, coverType in metadata; empty: none
    std::vector<SpineItem> spine;
    std::string navEntry; // EPUB 3 navigation document; empty: none
    std::string ncxEntry; // EPUB 2 NCX; empty: none
};

// Every reason to refuse a book's document, thrown through fail (which must not return).
using Refusal = std::function<void(const std::string&)>;

// The package document's entry, from META-INF/container.xml's first rootfile.
std::string packageEntryOf(std::string_view containerXml, const Refusal& fail);

// The package document at packageEntry, read; its references resolved against its folder.
Package readPackage(std::string_view packageXml, const std::string& packageEntry,
                    const Refusal& fail);

} // namespace kestrova::speech::epub
