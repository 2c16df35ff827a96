#include "speech/conversion/read_along/epub3_upgrade.h"

#include "speech/ascii.h"
#include "speech/conversion/read_along/entry_references.h"
#include "speech/text/readers/xml/xml_text.h"

#include <algorithm>

namespace kestrova::speech::read_along {
namespace {

using xml::escaped;

// Where the element or declaration that opens at `at` ends, one past its '>'.
std::size_t endOfTag(std::string_view page, std::size_t at) {
    const std::size_t close = page.find('>', at);
    return close == std::string_view::npos ? page.size() : close + 1;
}

std::string itemLink(const epub::TocEntry& entry, const std::string& navEntry) {
    std::string href = referenceBetween(navEntry, entry.place.entry);
    if (!entry.place.fragment.empty())
        href.append("#").append(escaped(entry.place.fragment));
    return "<a href=\"" + href + "\">" +
           escaped(entry.title.empty() ? entry.place.entry : entry.title) + "</a>";
}

// The entries as list items, each deeper level an <ol> inside the item it comes under. A list
// item holds one link and then its list, so an entry more than one level below the one
// before it (no table gives one) goes only one level down.
void appendNestedItems(std::string& nav, const std::vector<epub::TocEntry>& entries,
                       const std::string& navEntry) {
    int open = -1; // the level of the item still open, -1 before the first
    for (const epub::TocEntry& entry : entries) {
        const int level = std::clamp(entry.level, 0, open + 1);
        if (level > open)
            nav.append(open < 0 ? "" : "\n<ol>\n");
        else
            for (nav.append("</li>\n"); open > level; --open)
                nav.append("</ol>\n</li>\n");
        nav.append("<li>").append(itemLink(entry, navEntry));
        open = level;
    }
    for (; open >= 0; --open)
        nav.append(open > 0 ? "</li>\n</ol>\n" : "</li>\n");
}

} // namespace

std::string navigationDocument(const std::vector<epub::TocEntry>& entries,
                               const std::string& navEntry, std::string_view title,
                               std::string_view language) {
    std::string nav = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                      "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
                      "xmlns:epub=\"http://www.idpf.org/2007/ops\"";
    if (!language.empty())
        nav.append(" xml:lang=\"")
            .append(escaped(language))
            .append("\" lang=\"")
            .append(escaped(language))
            .append("\"");
    nav.append(">\n<head>\n<title>").append(escaped(title)).append("</title>\n</head>\n<body>\n");
    nav.append("<nav epub:type=\"toc\" id=\"toc\">\n<h1>").append(escaped(title));
    nav.append("</h1>\n<ol>\n");
    appendNestedItems(nav, entries, navEntry);
    nav.append("</ol>\n</nav>\n</body>\n</html>\n");
    return nav;
}

std::string asHtml5Page(std::string_view page) {
    std::string html5;
    std::size_t copied = 0;
    const std::size_t doctype = page.find("<!DOCTYPE");
    const std::size_t root = page.find("<html");
    if (doctype != std::string_view::npos && doctype < root) {
        html5.append(page.substr(0, doctype)).append("<!DOCTYPE html>");
        copied = endOfTag(page, doctype);
    }
    const std::size_t headEnd = page.find("</head>");
    for (std::size_t meta = page.find("<meta", copied);
         meta != std::string_view::npos && meta < headEnd; meta = page.find("<meta", copied)) {
        const std::size_t end = endOfTag(page, meta);
        const std::string tag = asciiLower(page.substr(meta, end - meta));
        const bool dropped = tag.find("content-style-type") != std::string::npos ||
                             tag.find("content-script-type") != std::string::npos;
        html5.append(page.substr(copied, (dropped ? meta : end) - copied));
        copied = end;
    }
    html5.append(page.substr(copied));
    return html5;
}

} // namespace kestrova::speech::read_along
