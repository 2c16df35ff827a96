#include "speech/text/readers/epub/epub_toc.h"

#include "speech/text/readers/xml/book_xml.h"

#include <set>

namespace kestrova::speech::epub {

using namespace book_xml;

namespace {

bool isTocNav(const xmlNode& element) {
    return isElement(element, xhtmlNamespace, "nav") &&
           (listHolds(attribute(element, "type", opsNamespace).value_or(""), "toc") ||
            listHolds(attribute(element, "role").value_or(""), "doc-toc"));
}

// How deep the entries nest: the entries that hold an entry (its navPoint, or the list item of
// its link) are counted, and those left out (a link outside the book) are not, so that an
// entry under one left out takes its place.
class Nesting {
public:
    int levelOf(const xmlNode& holder) const {
        int level = 0;
        for (const xmlNode* node = holder.parent; node != nullptr; node = node->parent)
            level += entryHolders_.contains(node) ? 1 : 0;
        return level;
    }
    void add(std::vector<TocEntry>& entries, const xmlNode& holder, const std::string& from,
             const std::optional<std::string>& reference, std::string title) {
        std::optional<BookPlace> place =
            reference ? resolveReference(from, *reference) : std::nullopt;
        if (!place)
            return;
        entries.push_back(
            {.place = std::move(*place), .title = std::move(title), .level = levelOf(holder)});
        entryHolders_.insert(&holder);
    }

private:
    std::set<const xmlNode*> entryHolders_;
};

} // namespace

std::vector<TocEntry> navEntries(std::string_view navXml, const std::string& navEntry,
                                 const Refusal& fail) {
    const Document document = parse(navXml, fail);
    const xmlNode* toc = nullptr;
    forEachElement(*xmlDocGetRootElement(document.get()), [&](const xmlNode& element) {
        toc = isTocNav(element) ? &element : nullptr;
        return toc == nullptr;
    });
    std::vector<TocEntry> entries;
    if (toc == nullptr)
        return entries;
    Nesting nesting;
    // The links of the nested lists, in document order: each entry before its own sub-entries.
    forEachElement(*toc, [&](const xmlNode& element) {
        if (isElement(element, xhtmlNamespace, "a")) {
            std::string title = textOf(element);
            if (title.empty())
                title = attribute(element, "title").value_or("");
            const xmlNode* item = element.parent;
            while (item != toc && !isElement(*item, xhtmlNamespace, "li"))
                item = item->parent;
            nesting.add(entries, item == toc ? element : *item, navEntry,
                        attribute(element, "href"), std::move(title));
        }
        return true;
    });
    return entries;
}

std::vector<TocEntry> ncxEntries(std::string_view ncxXml, const std::string& ncxEntry,
                                 const Refusal& fail) {
    const Document document = parse(ncxXml, fail);
    const xmlNode* navMap = child(*xmlDocGetRootElement(document.get()), ncxNamespace, "navMap");
    std::vector<TocEntry> entries;
    if (navMap == nullptr)
        return entries;
    Nesting nesting;
    forEachElement(*navMap, [&](const xmlNode& element) {
        if (!isElement(element, ncxNamespace, "navPoint"))
            return true;
        const xmlNode* label = child(element, ncxNamespace, "navLabel");
        const xmlNode* text = label ? child(*label, ncxNamespace, "text") : nullptr;
        const xmlNode* content = child(element, ncxNamespace, "content");
        if (content != nullptr)
            nesting.add(entries, element, ncxEntry, attribute(*content, "src"),
                        text ? textOf(*text) : "");
        return true;
    });
    return entries;
}

} // namespace kestrova::speech::epub
