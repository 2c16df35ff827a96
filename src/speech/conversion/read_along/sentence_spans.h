#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The spans a read-along book's content document gets around its spoken sentences, inserted
// into its bytes where the reader found each sentence: the rest of the document stays as it is.
namespace kestrova::speech::read_along {

// Bytes [begin, end) of a content document that hold one sentence.
struct SentencePlace {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// True when one span can hold [begin, end) of an XML document: every element opened there is
// closed there, and nothing is closed there that opened before it (comments, CDATA and
// processing instructions taken as they are). A sentence across a paragraph's inline markup
// holds; one that ends inside an element it did not begin in does not.
bool holdsWholeElements(std::string_view document, std::size_t begin, std::size_t end);

// An id prefix that no id of the document can take: "ra-s", else with a number after it.
std::string freeIdPrefix(std::string_view document);

// The document with <span id="ID"> ... </span> around each place (ids[i] for places[i]; the
// places in document order, not overlapping, each holdsWholeElements) and, when stylesheetLink
// is not empty, that link element before the end of its head.
std::string withSentenceSpans(std::string_view document, const std::vector<SentencePlace>& places,
                              const std::vector<std::string>& ids, std::string_view stylesheetLink);

} // namespace kestrova::speech::read_along
