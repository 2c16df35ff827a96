#pragma once

#include "speech/text/readers/html/xhtml_page_tree.h"

#include <set>
#include <string>

// Where a link whose text is only a number leads: to a note, or to a page of the printed
// edition, a chapter, an entry of an index. Books that do not mark their note references link
// every note so, and their indexes and cross-references link pages the same way.
namespace kestrova::speech::xhtml {

// Where a printed page begins, as a number link's target: a page marker, an element with no
// text (an empty anchor), or one whose id names a page ("Page_82", "page82", "pg82") and that
// holds no text of its own or only the page's number ("82", "[Pg 82]").
bool isPageAnchor(const xmlNode& element);

// The ids of the elements under root that a number link may lead to as to a note: a note's
// body by its own marks; an element that may be a note (mayBeNote), is no page anchor and holds
// more than a number; a note's label, only a number or a mark, in a block that holds more; or
// any element inside a note's body.
std::set<std::string> noteLikeIds(const xmlNode& root);

} // namespace kestrova::speech::xhtml
