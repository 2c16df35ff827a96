#include "speech/conversion/read_along/sentence_spans.h"

namespace kestrova::speech::read_along {
namespace {

// Where the markup that opens at `at` ("<!--", "<![CDATA[", "<?", a tag) ends, one past it;
// npos when the document ends first.
std::size_t endOfMarkup(std::string_view text, std::size_t at) {
    const auto past = [&](std::string_view close) {
        const std::size_t found = text.find(close, at);
        return found == std::string_view::npos ? found : found + close.size();
    };
    if (text.substr(at).starts_with("<!--"))
        return past("-->");
    if (text.substr(at).starts_with("<![CDATA["))
        return past("]]>");
    if (text.substr(at).starts_with("<?"))
        return past("?>");
    char quote = 0;
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

} // namespace

bool holdsWholeElements(std::string_view document, std::size_t begin, std::size_t end) {
    if (begin >= end || end > document.size())
        return false;
    const std::string_view text = document.substr(0, end);
    std::size_t open = 0;
    for (std::size_t at = text.find('<', begin); at != std::string_view::npos;
         at = text.find('<', at)) {
        const std::size_t after = endOfMarkup(text, at);
        if (after == std::string_view::npos)
            return false; // markup cut by the sentence's end
        const std::string_view markup = text.substr(at, after - at);
        const bool special = markup.starts_with("<!") || markup.starts_with("<?");
        if (!special && markup.starts_with("</")) {
            if (open == 0)
                return false;
            --open;
        } else if (!special && !markup.ends_with("/>")) {
            ++open;
        }
        at = after;
    }
    return open == 0;
}

std::string freeIdPrefix(std::string_view document) {
    std::string prefix = "ra-s";
    for (unsigned n = 1; document.find(prefix) != std::string_view::npos; ++n)
        prefix = "ra" + std::to_string(n) + "-s";
    return prefix;
}

std::string withSentenceSpans(std::string_view document, const std::vector<SentencePlace>& places,
                              const std::vector<std::string>& ids,
                              std::string_view stylesheetLink) {
    std::string marked;
    marked.reserve(document.size() + places.size() * 32 + stylesheetLink.size());
    std::size_t headEnd =
        stylesheetLink.empty() ? std::string_view::npos : document.find("</head>");
    std::size_t copied = 0;
    const auto copyTo = [&](std::size_t place) {
        if (headEnd != std::string_view::npos && headEnd < place) {
            marked.append(document.substr(copied, headEnd - copied));
            marked.append(stylesheetLink);
            copied = headEnd;
            headEnd = std::string_view::npos;
        }
        marked.append(document.substr(copied, place - copied));
        copied = place;
    };
    for (std::size_t i = 0; i < places.size(); ++i) {
        copyTo(places[i].begin);
        marked.append("<span id=\"").append(ids[i]).append("\">");
        copyTo(places[i].end);
        marked.append("</span>");
    }
    copyTo(document.size());
    return marked;
}

} // namespace kestrova::speech::read_along
