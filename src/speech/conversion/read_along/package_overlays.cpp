#include "speech/conversion/read_along/package_overlays.h"

#include "speech/conversion/read_along/entry_references.h"
#include "speech/conversion/read_along/media_overlay.h"
#include "speech/quoted_name.h"
#include "speech/text/readers/epub/epub_package.h"
#include "speech/text/readers/xml/book_xml.h"

#include <libxml/tree.h>
#include <memory>
#include <set>

namespace kestrova::speech::read_along {
namespace {

using namespace book_xml;

const xmlChar* xml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

xmlNode* childElement(xmlNode& parent, std::string_view name) {
    for (xmlNode* at = parent.children; at != nullptr; at = at->next)
        if (isElement(*at, opfNamespace, name))
            return at;
    return nullptr;
}

struct XmlBytesFree {
    void operator()(xmlChar* bytes) const { xmlFree(bytes); }
};

// Ids of the package's own not taken again.
class IdChooser {
public:
    explicit IdChooser(const xmlNode& root) {
        forEachElement(root, [&](const xmlNode& element) {
            if (const auto id = attribute(element, "id"))
                taken_.insert(*id);
            return true;
        });
    }
    std::string free(const std::string& wanted) {
        std::string id = wanted;
        for (unsigned n = 2; taken_.contains(id); ++n)
            id = wanted + "-" + std::to_string(n);
        taken_.insert(id);
        return id;
    }

private:
    std::set<std::string> taken_;
};

void addItem(xmlNode& manifest, const std::string& id, const std::string& href,
             const std::string& mediaType) {
    xmlNode* item = xmlNewChild(&manifest, manifest.ns, xml("item"), nullptr);
    xmlNewProp(item, xml("id"), xml(id.c_str()));
    xmlNewProp(item, xml("href"), xml(href.c_str()));
    xmlNewProp(item, xml("media-type"), xml(mediaType.c_str()));
}

void addMeta(xmlNode& metadata, const char* property, const std::string& value,
             const std::string& refines = {}) {
    xmlNode* meta = xmlNewTextChild(&metadata, metadata.ns, xml("meta"), xml(value.c_str()));
    xmlNewProp(meta, xml("property"), xml(property));
    if (!refines.empty())
        xmlNewProp(meta, xml("refines"), xml(("#" + refines).c_str()));
}

// Each narrated document's manifest item, by its entry.
xmlNode* itemOf(xmlNode& manifest, const std::string& packageEntry, const std::string& entry) {
    for (xmlNode* at = manifest.children; at != nullptr; at = at->next) {
        if (!isElement(*at, opfNamespace, "item"))
            continue;
        const auto href = attribute(*at, "href");
        const auto place = href ? epub::resolveReference(packageEntry, *href) : std::nullopt;
        if (place && place->entry == entry)
            return at;
    }
    return nullptr;
}

} // namespace

std::string narratedPackage(std::string_view packageXml, const std::string& packageEntry,
                            const Narration& narration,
                            const std::function<void(const std::string&)>& fail) {
    const Document document = parse(packageXml, fail);
    xmlNode* root = xmlDocGetRootElement(document.get());
    xmlNode* manifest = root ? childElement(*root, "manifest") : nullptr;
    xmlNode* metadata = root ? childElement(*root, "metadata") : nullptr;
    if (manifest == nullptr || metadata == nullptr)
        fail("its package document has no manifest or no metadata");
    IdChooser ids(*root);

    std::uint64_t totalMs = 0;
    unsigned number = 0;
    for (const NarratedDocument& narrated : narration.documents) {
        xmlNode* item = itemOf(*manifest, packageEntry, narrated.contentEntry);
        if (item == nullptr)
            fail(quotedName(narrated.contentEntry) + " is not in its manifest");
        const std::string count = std::to_string(++number);
        const std::string overlayId = ids.free("ra-overlay-" + count);
        xmlSetProp(item, xml("media-overlay"), xml(overlayId.c_str()));
        addItem(*manifest, overlayId, referenceBetween(packageEntry, narrated.overlayEntry),
                "application/smil+xml");
        addItem(*manifest, ids.free("ra-audio-" + count),
                referenceBetween(packageEntry, narrated.audioEntry), narrated.audioMediaType);
        addMeta(*metadata, "media:duration", durationClock(narrated.durationMs), overlayId);
        totalMs += narrated.durationMs;
    }
    addItem(*manifest, ids.free("ra-style"),
            referenceBetween(packageEntry, narration.styleSheetEntry), "text/css");
    // The total is the sum of the overlays' rounded durations, as a checker adds them.
    addMeta(*metadata, "media:duration", durationClock(totalMs));
    addMeta(*metadata, "media:narrator", narration.narrator);
    addMeta(*metadata, "media:active-class", narration.activeClass);
    addMeta(*metadata, "schema:accessMode", "textual");
    addMeta(*metadata, "schema:accessMode", "auditory");
    addMeta(*metadata, "schema:accessibilityFeature", "synchronizedAudioText");

    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(document.get(), &bytes, &size, "UTF-8");
    const std::unique_ptr<xmlChar, XmlBytesFree> owned(bytes);
    if (bytes == nullptr || size <= 0)
        fail("its package document could not be written again");
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

} // namespace kestrova::speech::read_along
