#include "speech/text/readers/epub/epub_package.h"

#include "speech/quoted_name.h"
#include "speech/text/readers/xml/book_xml.h"

#include <algorithm>
#include <map>

namespace kestrova::speech::epub {

using namespace book_xml;

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool hasScheme(std::string_view reference) {
    const std::size_t colon = reference.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        reference.substr(0, colon).find('/') != std::string_view::npos)
        return false;
    auto isSchemeChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '-' || c == '.';
    };
    const std::string_view scheme = reference.substr(0, colon);
    return std::all_of(scheme.begin(), scheme.end(), isSchemeChar);
}

// "a/./b/../c" as "a/c"; ".." above the top is dropped: names stay inside the book.
std::string normalised(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string joined;
    for (const std::string_view part : parts)
        joined.append(joined.empty() ? "" : "/").append(part);
    return joined;
}

struct ManifestItem {
    std::string entry;
    std::string mediaType;
    std::string properties;
};

using Manifest = std::map<std::string, ManifestItem>;

} // namespace

std::string percentDecoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size() && hexValue(text[at + 1]) >= 0 &&
            hexValue(text[at + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(hexValue(text[at + 1]) * 16 + hexValue(text[at + 2])));
            at += 2;
        } else {
            decoded.push_back(text[at]);
        }
    }
    return decoded;
}

std::optional<BookPlace> resolveReference(std::string_view from, std::string_view reference) {
    if (hasScheme(reference))
        return std::nullopt;
    const std::size_t hash = reference.find('#');
    std::string_view path = reference.substr(0, hash);
    path = path.substr(0, path.find('?'));
    std::string fragment =
        hash == std::string_view::npos ? std::string() : percentDecoded(reference.substr(hash + 1));
    if (path.empty()) {
        if (hash == std::string_view::npos)
            return std::nullopt;
        return BookPlace{.entry = std::string(from), .fragment = std::move(fragment)};
    }
    const std::size_t slash = from.rfind('/');
    std::string combined(path.front() == '/' || slash == std::string_view::npos
                             ? std::string_view{}
                             : from.substr(0, slash + 1));
    combined.append(percentDecoded(path));
    return BookPlace{.entry = normalised(combined), .fragment = std::move(fragment)};
}

std::string packageEntryOf(std::string_view containerXml, const Refusal& fail) {
    const Document document = parse(containerXml, fail);
    const xmlNode& root = *xmlDocGetRootElement(document.get());
    std::string found;
    forEachElement(root, [&](const xmlNode& element) {
        if (nameOf(element) != "rootfile")
            return true;
        const auto path = attribute(element, "full-path");
        const auto type = attribute(element, "media-type");
        if (path && !path->empty() && (!type || *type == "application/oebps-package+xml")) {
            const auto place = resolveReference("", *path);
            found = place ? place->entry : "";
        }
        return found.empty();
    });
    if (found.empty())
        fail("it names no package document");
    return found;
}

namespace {

Manifest manifestOf(const xmlNode* manifest, const std::string& packageEntry) {
    Manifest items;
    if (manifest == nullptr)
        return items;
    for (const xmlNode* at = manifest->children; at != nullptr; at = at->next) {
        if (!isElement(*at, opfNamespace, "item"))
            continue;
        const auto id = attribute(*at, "id");
        const auto href = attribute(*at, "href");
        const auto place = href ? resolveReference(packageEntry, *href) : std::nullopt;
        if (!id || !place)
            continue;
        items.emplace(*id, ManifestItem{.entry = place->entry,
                                        .mediaType = attribute(*at, "media-type").value_or(""),
                                        .properties = attribute(*at, "properties").value_or("")});
    }
    return items;
}

// The creators who are authors: those with no role or the role "aut" (EPUB 2 gives it as
// opf:role, EPUB 3 in a meta refining the creator's id); all of them when none is.
std::string authorsOf(const xmlNode& metadata) {
    std::map<std::string, std::string> refinedRoles; // creator's id -> role
    for (const xmlNode* at = metadata.children; at != nullptr; at = at->next) {
        const std::string refines =
            isElement(*at, opfNamespace, "meta") && attribute(*at, "property") == "role"
                ? attribute(*at, "refines").value_or("")
                : "";
        if (refines.starts_with('#'))
            refinedRoles[refines.substr(1)] = textOf(*at);
    }
    std::string authors;
    std::string everyone;
    for (const xmlNode* at = metadata.children; at != nullptr; at = at->next) {
        if (!isElement(*at, dcNamespace, "creator") || textOf(*at).empty())
            continue;
        std::string role = attribute(*at, "role", opfNamespace).value_or("");
        if (const auto id = attribute(*at, "id"); id && refinedRoles.contains(*id))
            role = refinedRoles[*id];
        everyone.append(everyone.empty() ? "" : ", ").append(textOf(*at));
        if (role.empty() || role == "aut")
            authors.append(authors.empty() ? "" : ", ").append(textOf(*at));
    }
    return authors.empty() ? everyone : authors;
}

// The first non-empty dc:NAME.
std::string firstOf(const xmlNode& metadata, std::string_view name) {
    for (const xmlNode* at = metadata.children; at != nullptr; at = at->next)
        if (isElement(*at, dcNamespace, name))
            if (std::string text = textOf(*at); !text.empty())
                return text;
    return {};
}

// EPUB 3 marks the cover's manifest item; EPUB 2 names its id in <meta name="cover">.
const ManifestItem* coverOf(const xmlNode& metadata, const Manifest& manifest) {
    for (const auto& [id, item] : manifest)
        if (listHolds(item.properties, "cover-image"))
            return &item;
    for (const xmlNode* at = metadata.children; at != nullptr; at = at->next)
        if (isElement(*at, opfNamespace, "meta") && attribute(*at, "name") == "cover")
            if (const auto found = manifest.find(attribute(*at, "content").value_or(""));
                found != manifest.end() && found->second.mediaType.starts_with("image/"))
                return &found->second;
    return nullptr;
}

std::vector<SpineItem> spineOf(const xmlNode& spine, const Manifest& manifest,
                               const Refusal& fail) {
    std::vector<SpineItem> items;
    for (const xmlNode* at = spine.children; at != nullptr; at = at->next) {
        if (!isElement(*at, opfNamespace, "itemref"))
            continue;
        const std::string idref = attribute(*at, "idref").value_or("");
        const auto found = manifest.find(idref);
        if (found == manifest.end())
            fail("the spine names the item " + quotedValue(idref) +
                 ", which the manifest does not list");
        items.push_back({.entry = found->second.entry,
                         .mediaType = found->second.mediaType,
                         .linear = attribute(*at, "linear") != "no"});
    }
    if (items.empty())
        fail("the spine lists no pages");
    return items;
}

std::string ncxOf(const xmlNode& spine, const Manifest& manifest) {
    if (const auto found = manifest.find(attribute(spine, "toc").value_or(""));
        found != manifest.end())
        return found->second.entry;
    for (const auto& [id, item] : manifest)
        if (item.mediaType == "application/x-dtbncx+xml")
            return item.entry;
    return {};
}

} // namespace

Package readPackage(std::string_view packageXml, const std::string& packageEntry,
                    const Refusal& fail) {
    const Document document = parse(packageXml, fail);
    const xmlNode& root = *xmlDocGetRootElement(document.get());
    if (!isElement(root, opfNamespace, "package"))
        fail("the root element is <" + cutInTheMiddle(nameOf(root)) + ">, not <package>");
    const xmlNode* metadata = child(root, opfNamespace, "metadata");
    const xmlNode* spine = child(root, opfNamespace, "spine");
    if (metadata == nullptr || spine == nullptr)
        fail(std::string("the package document has no ") + (spine ? "<metadata>" : "<spine>"));
    const Manifest manifest = manifestOf(child(root, opfNamespace, "manifest"), packageEntry);
    Package package{.majorVersion =
                        attribute(root, "version").value_or("").starts_with('3') ? 3 : 2,
                    .metadata = {.title = firstOf(*metadata, "title"),
                                 .author = authorsOf(*metadata),
                                 .language = firstOf(*metadata, "language"),
                                 .date = firstOf(*metadata, "date"),
                                 .coverType = {},
                                 .coverBytes = {}},
                    .coverEntry = {},
                    .spine = spineOf(*spine, manifest, fail),
                    .navEntry = {},
                    .ncxEntry = ncxOf(*spine, manifest)};
    if (const ManifestItem* cover = coverOf(*metadata, manifest)) {
        package.coverEntry = cover->entry;
        package.metadata.coverType = cover->mediaType;
    }
    for (const auto& [id, item] : manifest)
        if (package.majorVersion >= 3 && listHolds(item.properties, "nav"))
            package.navEntry = item.entry;
    return package;
}

} // namespace kestrova::speech::epub
