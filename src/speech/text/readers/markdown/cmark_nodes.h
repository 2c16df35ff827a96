#pragma once

#include <cmark-gfm.h>
#include <memory>
#include <string>
#include <string_view>

// cmark-gfm's trees as the Markdown reader walks them: the owning handles, the parse with
// GitHub's extensions, and what a node is.
namespace kestrova::speech::markdown {

struct NodeDeleter {
    void operator()(cmark_node* node) const { cmark_node_free(node); }
};
struct ParserDeleter {
    void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};
using NodeHandle = std::unique_ptr<cmark_node, NodeDeleter>;
using ParserHandle = std::unique_ptr<cmark_parser, ParserDeleter>;

NodeHandle parse(std::string_view text);

// Visits the nodes below root in document order without recursion; enter(node, depth), depth
// 1 for root's children, returns whether to visit the node's children too.
template <typename Enter> void walk(cmark_node* root, Enter&& enter) {
    cmark_node* node = cmark_node_first_child(root);
    int depth = 1;
    while (node != nullptr) {
        cmark_node* child = enter(node, depth) ? cmark_node_first_child(node) : nullptr;
        if (child != nullptr) {
            node = child;
            ++depth;
            continue;
        }
        while (node != root && cmark_node_next(node) == nullptr) {
            node = cmark_node_parent(node);
            --depth;
        }
        node = node == root ? nullptr : cmark_node_next(node);
    }
}

// "<br>", "<br/>", "<BR />": a tag that parts the words on either side.
bool isLineBreakTag(const char* tag);
std::string_view literalOf(cmark_node* node);
// A line of its own that opens or closes one of pandoc's fenced divs: "::: note", ":::".
bool isDivFence(cmark_node* text);
// Attributes as pandoc writes them in braces: "#id", ".class", "key=value", "-".
bool isAttributeList(std::string_view inside);
// A text without the attributes of pandoc's bracketed spans: "[words]{.class}" as "[words]".
std::string withoutSpanAttributes(std::string_view text);
bool isType(cmark_node* node, const char* typeName);

} // namespace kestrova::speech::markdown
