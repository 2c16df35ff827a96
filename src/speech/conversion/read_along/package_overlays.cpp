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

bool hasModified(const xmlNode& metadata) {
    for (const xmlNode* at = metadata.children; at != nullptr; at = at->next)
        if (isElement(*at, opfNamespace, "meta") &&
            attribute(*at, "property") == std::optional<std::string>("dcterms:modified"))
            return true;
    return false;
}

// The EPUB 2 attributes of the Dublin Core elements, which EPUB 3 has as refining metas (role,
// file-as) or not at all (scheme, event).
void refineOpfAttributes(xmlNode& metadata, IdChooser& ids) {
    for (xmlNode* element = metadata.children; element != nullptr; element = element->next) {
        if (element->type != XML_ELEMENT_NODE)
            continue;
        std::vector<std::pair<std::string, std::string>> refinements;
        for (xmlAttr* attr = element->properties; attr != nullptr;) {
            xmlAttr* next = attr->next;
            if (attr->ns != nullptr &&
                std::string_view(reinterpret_cast<const char*>(attr->ns->href)) == opfNamespace) {
                const std::string name = reinterpret_cast<const char*>(attr->name);
                const auto value = attribute(*element, name.c_str(), opfNamespace);
                if ((name == "role" || name == "file-as") && value && !value->empty())
                    refinements.emplace_back(name, *value);
                xmlRemoveProp(attr);
            }
            attr = next;
        }
        if (refinements.empty())
            continue;
        std::string id = attribute(*element, "id").value_or("");
        if (id.empty()) {
            id = ids.free("ra-creator");
            xmlSetProp(element, xml("id"), xml(id.c_str()));
        }
        for (const auto& [property, value] : refinements) {
            xmlNode* meta =
                xmlNewTextChild(&metadata, metadata.ns, xml("meta"), xml(value.c_str()));
            xmlNewProp(meta, xml("refines"), xml(("#" + id).c_str()));
            xmlNewProp(meta, xml("property"), xml(property.c_str()));
            if (property == "role")
                xmlNewProp(meta, xml("scheme"), xml("marc:relators"));
        }
    }
}

void upgradePackage(xmlNode& root, xmlNode& manifest, xmlNode& metadata, IdChooser& ids,
                    const std::string& packageEntry, const Narration& narration) {
    xmlSetProp(&root, xml("version"), xml("3.0"));
    refineOpfAttributes(metadata, ids);
    if (!hasModified(metadata))
        addMeta(metadata, "dcterms:modified", narration.modified);
    xmlNode* item = xmlNewChild(&manifest, manifest.ns, xml("item"), nullptr);
    xmlNewProp(item, xml("id"), xml(ids.free("ra-nav").c_str()));
    xmlNewProp(item, xml("href"), xml(referenceBetween(packageEntry, narration.navEntry).c_str()));
    xmlNewProp(item, xml("media-type"), xml("application/xhtml+xml"));
    xmlNewProp(item, xml("properties"), xml("nav"));
}

} // namespace

std::vector<std::string> xhtmlEntries(std::string_view packageXml, const std::string& packageEntry,
                                      const std::function<void(const std::string&)>& fail) {
    const Document document = parse(packageXml, fail);
    xmlNode* root = xmlDocGetRootElement(document.get());
    xmlNode* manifest = root ? childElement(*root, "manifest") : nullptr;
    std::vector<std::string> entries;
    for (xmlNode* at = manifest ? manifest->children : nullptr; at != nullptr; at = at->next) {
        if (!isElement(*at, opfNamespace, "item") ||
            attribute(*at, "media-type") != std::optional<std::string>("application/xhtml+xml"))
            continue;
        const auto href = attribute(*at, "href");
        if (const auto place = href ? epub::resolveReference(packageEntry, *href) : std::nullopt)
            entries.push_back(place->entry);
    }
    return entries;
}

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
    if (!narration.navEntry.empty())
        upgradePackage(*root, *manifest, *metadata, ids, packageEntry, narration);

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
