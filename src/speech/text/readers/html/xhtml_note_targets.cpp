#include "speech/text/readers/html/xhtml_note_targets.h"

#include "speech/ascii.h"
#include "speech/text/readers/html/xhtml_elements.h"

#include <algorithm>
#include <array>

namespace kestrova::speech::xhtml {

namespace {

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// The page an id names, "82" of "page_82", "Page-82", "pg82" or "p82" (in lower case), and
// Roman numbers of the front matter; empty: the id names no page.
std::string_view pageOfId(std::string_view id) {
    constexpr std::array<std::string_view, 3> prefixes = {"page", "pg", "p"};
    const auto prefix = std::find_if(prefixes.begin(), prefixes.end(),
                                     [&](std::string_view p) { return id.starts_with(p); });
    if (prefix == prefixes.end())
        return {};
    std::string_view page = id.substr(prefix->size());
    if (!page.empty() && (page.front() == '_' || page.front() == '-' || page.front() == '.'))
        page.remove_prefix(1);
    const bool arabic = std::all_of(page.begin(), page.end(), isAsciiDigit);
    const bool roman = std::all_of(page.begin(), page.end(), [](char c) {
        return std::string_view("ivxlcdm").find(c) != std::string_view::npos;
    });
    return !page.empty() && (arabic || roman) ? page : std::string_view{};
}

// "82", "[82]", "[Pg 82]", "p. 82", "Page 82" for page 82.
bool isPageNumberText(std::string_view text, std::string_view page) {
    std::string letters;
    for (char c : asciiLower(text))
        if (isAsciiDigit(c) || (c >= 'a' && c <= 'z'))
            letters.push_back(c);
    if (!letters.ends_with(page))
        return false;
    const std::string_view before =
        std::string_view(letters).substr(0, letters.size() - page.size());
    return before.empty() || before == "p" || before == "pg" || before == "page";
}

bool hasOwnText(const xmlNode& element) {
    for (const xmlNode* child = element.children; child != nullptr; child = child->next)
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
            !collapsedText(textOf(child->content)).empty())
            return true;
    return false;
}

// block: the nearest block around element, where a note's label stands before its text.
bool isNoteLike(const xmlNode& element, const xmlNode* block) {
    if (isMarkedNoteBody(element))
        return true;
    if (isPageAnchor(element) || !mayBeNote(element))
        return false;
    const std::string text = shortTextOf(element, 64);
    if (!isNoteMarkText(text))
        return true;
    return block != nullptr && shortTextOf(*block, 64).size() > text.size();
}

// inNote: inside a note's body by its marks, where any id is the note's (an empty anchor at
// its start, as HTML editions place them).
void gatherNoteLikeIds(const xmlNode& parent, const xmlNode* block, bool inNote,
                       std::set<std::string>& ids) {
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || isNeverRead(*child))
            continue;
        if (std::string id = idOf(*child); !id.empty() && (inNote || isNoteLike(*child, block)))
            ids.insert(std::move(id));
        gatherNoteLikeIds(*child, isBlockElement(nameOf(*child)) ? child : block,
                          inNote || isMarkedNoteBody(*child), ids);
    }
}

} // namespace

bool isPageAnchor(const xmlNode& element) {
    if (isPageMarker(element))
        return true;
    const std::string text = shortTextOf(element, 64);
    if (text.empty())
        return true;
    const std::string id = asciiLower(idOf(element));
    const std::string_view page = pageOfId(id);
    return !page.empty() && (!hasOwnText(element) || isPageNumberText(text, page));
}

std::set<std::string> noteLikeIds(const xmlNode& root) {
    std::set<std::string> ids;
    gatherNoteLikeIds(root, nullptr, false, ids);
    return ids;
}

} // namespace kestrova::speech::xhtml
