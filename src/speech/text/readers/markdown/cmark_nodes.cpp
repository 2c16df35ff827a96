#include "speech/text/readers/markdown/cmark_nodes.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cstring>

namespace kestrova::speech::markdown {

namespace {

bool isLineEdge(cmark_node* node) {
    return node == nullptr || cmark_node_get_type(node) == CMARK_NODE_SOFTBREAK ||
           cmark_node_get_type(node) == CMARK_NODE_LINEBREAK;
}

} // namespace

NodeHandle parse(std::string_view text) {
    // Registers the extensions once per process: cmark keeps them in a list of its own.
    static const bool registered = (cmark_gfm_core_extensions_ensure_registered(), true);
    (void)registered;
    // No CMARK_OPT_UNSAFE: nothing is rendered, raw HTML is passed over below.
    const ParserHandle parser(
        cmark_parser_new(CMARK_OPT_SOURCEPOS | CMARK_OPT_FOOTNOTES | CMARK_OPT_VALIDATE_UTF8));
    for (const char* name : {"table", "strikethrough", "autolink"})
        if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(parser.get(), extension);
    cmark_parser_feed(parser.get(), text.data(), text.size());
    return NodeHandle(cmark_parser_finish(parser.get()));
}

bool isLineBreakTag(const char* tag) {
    const std::string_view text = tag != nullptr ? tag : "";
    return text.size() >= 4 && (text[1] == 'b' || text[1] == 'B') &&
           (text[2] == 'r' || text[2] == 'R') &&
           (text[3] == '>' || text[3] == '/' || text[3] == ' ');
}

std::string_view literalOf(cmark_node* node) {
    const char* literal = cmark_node_get_literal(node);
    return literal != nullptr ? literal : "";
}

bool isDivFence(cmark_node* text) {
    const char* literal = cmark_node_get_literal(text);
    return literal != nullptr && std::strncmp(literal, ":::", 3) == 0 &&
           isLineEdge(cmark_node_previous(text)) && isLineEdge(cmark_node_next(text));
}

bool isAttributeList(std::string_view inside) {
    return !inside.empty() && inside.find_first_of("{}") == std::string_view::npos &&
           (std::strchr("#.-", inside.front()) != nullptr ||
            inside.find('=') != std::string_view::npos);
}

std::string withoutSpanAttributes(std::string_view text) {
    std::string kept;
    for (std::size_t at = 0;;) {
        const std::size_t open = text.find("]{", at);
        const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos) {
            kept += text.substr(at);
            return kept;
        }
        kept += text.substr(at, open + 1 - at);
        if (!isAttributeList(text.substr(open + 2, close - open - 2)))
            kept += text.substr(open + 1, close + 1 - (open + 1));
        at = close + 1;
    }
}

bool isType(cmark_node* node, const char* typeName) {
    return std::strcmp(cmark_node_get_type_string(node), typeName) == 0;
}

} // namespace kestrova::speech::markdown
