#include "speech/text/readers/html/xhtml_page_tree.h"

#include "speech/ascii.h"
#include "speech/base/utf8.h"
#include "speech/speech_error.h"
#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/readers/xml/xml_error_scope.h"
#include "speech/text/readers/xml/xml_parser_context.h"
#include "speech/text/readers/xml/xml_text.h"
#include "speech/text_encoding.h"

#include <algorithm>
#include <functional>
#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <optional>

namespace kestrova::speech::xhtml {

namespace {

constexpr std::string_view epubNamespace = "http://www.idpf.org/2007/ops";

// The places of a piece the parser copied rather than handing over where it lies, read
// backwards from where it ends in the page: the XML parser hands over "\n" for a CR LF or a lone
// CR, so a place begins after each CR LF. Empty: the piece does not end at end.
TextPlaces placesEndingAt(std::string_view page, std::size_t end, std::string_view piece) {
    TextPlaces places;
    std::size_t at = piece.size();
    for (std::size_t in = end; at > 0; --at, --in) {
        const char wanted = piece[at - 1];
        if (in == 0 || (wanted != page[in - 1] && !(wanted == '\n' && page[in - 1] == '\r')))
            return {};
        if (wanted == '\n' && page[in - 1] == '\n' && in >= 2 && page[in - 2] == '\r') {
            places.emplace_back(at - 1, in - 1);
            --in;
        }
        if (at == 1)
            places.emplace_back(0, in - 1);
    }
    std::reverse(places.begin(), places.end());
    return places;
}

// A copied piece ends where the parser stands (here), or a character further on (the HTML
// parser hands over a full buffer before it steps past its last character); a character
// reference ("&amp;", "&#233;") is placed at its "&"; anything else where it would end at here.
TextPlaces placesOfCopy(std::string_view page, std::size_t here, std::string_view piece) {
    for (std::size_t end = here; end <= std::min(here + 4, page.size()); ++end)
        if (TextPlaces places = placesEndingAt(page, end, piece); !places.empty())
            return places;
    if (here > 0 && page[here - 1] == ';') {
        const std::size_t from = here - std::min<std::size_t>(here, 40);
        const std::size_t ampersand = page.substr(from, here - from).rfind('&');
        if (ampersand != std::string_view::npos)
            return {{0, from + ampersand}};
    }
    return {{0, here - std::min(here, piece.size())}};
}

bool isLatin1(std::string_view encoding) {
    const std::string name = asciiLower(encoding);
    return name == "iso-8859-1" || name == "iso_8859-1" || name == "latin1" || name == "l1";
}

// A text node's places in a page read in UTF-8 from Latin-1, as places in the Latin-1 bytes:
// a character of two bytes (its place in wide) stands at one byte, both of its bytes there.
TextPlaces latin1Places(const TextPlaces& places, std::size_t contentBytes,
                        const std::vector<std::size_t>& wide) {
    const auto latin1 = [&](std::uint64_t at) {
        // Less one byte for each character of two bytes that begins before at.
        const auto before = std::lower_bound(wide.begin(), wide.end(), at);
        return at - static_cast<std::uint64_t>(before - wide.begin());
    };
    TextPlaces mapped;
    for (std::size_t k = 0; k < places.size(); ++k) {
        const auto [first, place] = places[k];
        const std::size_t end = k + 1 < places.size() ? places[k + 1].first : contentBytes;
        mapped.emplace_back(first, latin1(place));
        auto two = std::lower_bound(wide.begin(), wide.end(), place);
        for (; two != wide.end() && *two < place + (end - first); ++two) {
            const std::size_t at = first + (*two - place);
            const std::uint64_t byte = latin1(*two);
            mapped.emplace_back(at, byte);
            mapped.emplace_back(at + 1, byte);
            mapped.emplace_back(at + 2, byte + 1);
        }
    }
    return mapped;
}

} // namespace

// The parser's callbacks: libxml2's own tree building, with the page's limits checked and the
// text nodes' places noted on the way. A fault stops the parser; it is thrown once the parser
// has returned, as no exception may cross it.
struct PageTree::Parse {
    PageTree& tree;
    xmlParserCtxt* context = nullptr;
    std::optional<PageFault> fault;
    bool encodingFailed = false; // the bytes could not be read in the encoding chosen
    const std::atomic<bool>* cancel = nullptr;
    bool cancelled = false;
    std::string_view page;  // the page's own bytes
    bool converted = false; // the page was not UTF-8: its places are not its bytes'
    bool latin1 = false;    // ... but Latin-1, one byte a character
    std::unordered_map<const xmlNode*, std::size_t> nodeBytes; // each text node's so far

    static Parse& of(void* parserContext) {
        return xml::ParserContext::readerOf<Parse>(parserContext);
    }

    int line() const { return context->input != nullptr ? context->input->line : 0; }

    void stop(PageFault found) {
        if (!fault)
            fault = std::move(found);
        xmlStopParser(context);
    }

    void checkCancel() {
        if (cancel != nullptr && !cancelled && cancel->load(std::memory_order_relaxed)) {
            cancelled = true;
            xmlStopParser(context);
        }
    }

    void checkDepth() {
        if (context->nameNr > pageMaxDepth)
            stop({.line = line(), .reason = xml::nestedDeeperThan(pageMaxDepth)});
    }

    static void startElementNs(void* parserContext, const xmlChar* localName, const xmlChar* prefix,
                               const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                               int attributeCount, int defaulted, const xmlChar** attributes) {
        xmlSAX2StartElementNs(parserContext, localName, prefix, uri, namespaceCount, namespaces,
                              attributeCount, defaulted, attributes);
        of(parserContext).checkDepth();
        of(parserContext).checkCancel();
    }

    static void startElement(void* parserContext, const xmlChar* name, const xmlChar** attributes) {
        xmlSAX2StartElement(parserContext, name, attributes);
        of(parserContext).checkDepth();
        of(parserContext).checkCancel();
    }

    // A fault of the page's syntax, not one of libxml2's limits or resources.
    static bool isSyntaxFault(const xmlError& error) {
        return (error.domain == XML_FROM_PARSER || error.domain == XML_FROM_NAMESPACE) &&
               error.code != XML_ERR_INTERNAL_ERROR && error.code != XML_ERR_NO_MEMORY &&
               error.code != XML_ERR_ENTITY_LOOP && !isEncodingFault(error);
    }

    // A failed conversion from the page's encoding, or an encoding libxml2 does not know.
    static bool isEncodingFault(const xmlError& error) {
        return error.domain == XML_FROM_I18N || error.domain == XML_FROM_IO ||
               error.code == XML_ERR_UNSUPPORTED_ENCODING || error.code == XML_I18N_NO_HANDLER ||
               error.code == XML_I18N_CONV_FAILED;
    }

    static void keepFirstError(void* parserContext, xmlError* error) {
        Parse& parse = of(parserContext);
        parse.encodingFailed = parse.encodingFailed || isEncodingFault(*error);
        // A named reference the page does not declare, under a DTD it does not load, is
        // resolved by the reader.
        if (error->level >= XML_ERR_ERROR && error->code != XML_WAR_UNDECLARED_ENTITY &&
            !parse.fault)
            parse.fault = PageFault{.line = error->line,
                                    .reason = xml::parserReason(error->message),
                                    .malformed = isSyntaxFault(*error)};
    }

    // The HTML parser forgives the page's faults, but not an encoding that fails it.
    static void noteEncodingError(void* parserContext, xmlError* error) {
        Parse& parse = of(parserContext);
        parse.encodingFailed = parse.encodingFailed || isEncodingFault(*error);
    }

    // What libxml2 reports to the thread rather than to the parser (a failed conversion).
    static void threadError(void* parse, xmlError* error) {
        Parse& self = *static_cast<Parse*>(parse);
        self.encodingFailed = self.encodingFailed || isEncodingFault(*error);
    }

    static void characters(void* parserContext, const xmlChar* text, int length) {
        Parse& parse = of(parserContext);
        parse.checkCancel();
        xmlNode* parent = parse.context->node;
        xmlNode* lastBefore = parent != nullptr ? parent->last : nullptr;
        xmlSAX2Characters(parserContext, text, length);
        if (parent != nullptr && parent->last != nullptr && parent->last->type == XML_TEXT_NODE)
            parse.notePlace(*parent->last, parent->last == lastBefore, text, length);
    }

    void notePlace(const xmlNode& node, bool appended, const xmlChar* text, int length) {
        TextPlaces& places = tree.places_[&node];
        std::size_t& contentBytes = nodeBytes[&node];
        if (!appended) { // a new node (at an address a freed one may have had)
            places.clear();
            contentBytes = 0;
        }
        const std::string_view piece(reinterpret_cast<const char*>(text),
                                     static_cast<std::size_t>(std::max(length, 0)));
        for (const auto& [first, offset] : placesOf(piece)) {
            const std::size_t at = contentBytes + first;
            // A place that follows on from the one before it is not kept.
            if (places.empty() || places.back().second + (at - places.back().first) != offset)
                places.emplace_back(at, offset);
        }
        contentBytes += piece.size();
    }

    // Where a piece of text, just handed over by the parser, stands in the page.
    TextPlaces placesOf(std::string_view piece) {
        const xmlParserInput* input = context->input;
        if (piece.empty() || input == nullptr || input->base == nullptr || input->cur == nullptr ||
            input->end == nullptr) {
            converted = true;
            return {};
        }
        if (input->buf != nullptr && input->buf->encoder != nullptr && !converted) {
            converted = true;
            latin1 = isLatin1(textOf(reinterpret_cast<const xmlChar*>(input->buf->encoder->name)));
        }
        const std::less<const xmlChar*> before;
        const auto* text = reinterpret_cast<const xmlChar*>(piece.data());
        if (!before(text, input->base) && !before(input->end, text + piece.size()))
            return {{0, input->consumed + static_cast<std::uint64_t>(text - input->base)}};
        // The parser keeps only what it has not read yet; the page's own bytes are matched.
        const std::uint64_t here =
            input->consumed + static_cast<std::uint64_t>(input->cur - input->base);
        if (here > page.size()) {
            converted = true;
            return {};
        }
        return placesOfCopy(page, static_cast<std::size_t>(here), piece);
    }

    void handle(xmlSAXHandler& handler, bool html) {
        handler.characters = characters;
        handler.ignorableWhitespace = characters;
        handler.serror = html ? noteEncodingError : keepFirstError;
        if (html)
            handler.startElement = startElement;
        else
            handler.startElementNs = startElementNs;
    }
};

namespace {

// How the page's bytes are read: a byte order mark says what they are; text that is valid
// UTF-8 is UTF-8, whatever its charset or declaration claims (a page that says UTF-32 or
// UTF-16 in ASCII is not); else the declared charset (HTML without one: Latin-1, as HTML 4
// had it).
} // namespace

enum class PageTree::Reading { Declared, Utf8, Marked };

namespace {

using Reading = PageTree::Reading;

Reading readingOf(std::string_view bytes) {
    if (byteOrderMarkLength(bytes) > 0)
        return Reading::Marked;
    return isUtf8(bytes) ? Reading::Utf8 : Reading::Declared;
}

// The HTML parser loads no DTD, and reads old HTML's of every kind; XHTML may name the W3C's.
xml::ParserContext newContext(std::string_view bytes, bool html, Reading reading) {
    xml::ParserContext context = xml::ParserContext::ofBytes(
        bytes,
        {.syntax = html ? xml::Syntax::Html : xml::Syntax::Xml,
         .declaredEncodingIgnored = reading != Reading::Declared,
         .externalDtd = html ? xml::ExternalDtd::NotLoaded : xml::ExternalDtd::RefusedUnlessKnown});
    if (!context)
        throw PageFault{.line = 0, .reason = "cannot start the parser: out of memory"};
    if (html && reading == Reading::Utf8)
        xmlSwitchEncoding(context.get(), XML_CHAR_ENCODING_UTF8);
    return context;
}

} // namespace

PageTree::PageTree(std::string_view bytes, bool html, const std::atomic<bool>* cancel) {
    if (bytes.size() > pageMaxBytes)
        throw PageFault{.line = 0,
                        .reason = "the page is larger than " + std::to_string(pageMaxBytes >> 20) +
                                  " MiB"};
    if (bytes.find_first_not_of(" \t\r\n") == std::string_view::npos)
        throw PageFault{.line = 1, .reason = "the page is empty"};
    try {
        parse(bytes, html, cancel);
    } catch (const PageFault& fault) {
        if (html || !fault.malformed)
            throw;
        parse(bytes, true, cancel);
        malformed_ = fault;
    }
}

void PageTree::parse(std::string_view bytes, bool html, const std::atomic<bool>* cancel) {
    const Reading reading = readingOf(bytes);
    if (parsed(bytes, html, reading, cancel)) {
        if (latin1_)
            placeLatin1(bytes, html, cancel);
        return;
    }
    // The encoding named or marked failed the parser: the page is read as plain text would be
    // (Windows-1252, or the mark's encoding with U+FFFD for what is not), never as nothing.
    const TextEncoding fallback =
        reading == Reading::Marked ? encodingFromStart(bytes) : TextEncoding::Windows1252;
    if (!parsed(decodeText(bytes, fallback), html, Reading::Utf8, cancel))
        throw PageFault{.line = 0,
                        .reason =
                            std::string("its text cannot be read as ") + encodingName(fallback)};
    places_.clear(); // the decoded text's, not the page's
}

// Throws the page's fault; false when its bytes could not be read in the encoding chosen.
bool PageTree::parsed(std::string_view bytes, bool html, Reading reading,
                      const std::atomic<bool>* cancel) {
    places_.clear();
    xml::ParserContext context = newContext(bytes, html, reading);
    Parse parse{.tree = *this,
                .context = context.get(),
                .fault = {},
                .encodingFailed = false,
                .cancel = cancel,
                .cancelled = false,
                .page = bytes,
                .converted = false,
                .latin1 = false,
                .nodeBytes = {}};
    context.attach(&parse, [&parse](const std::string& reason) {
        parse.stop({.line = parse.line(), .reason = reason});
    });
    parse.handle(context.handler(), html);
    {
        const XmlErrorScope errors(&parse, Parse::threadError);
        if (html)
            htmlParseDocument(context.get());
        else
            xmlParseDocument(context.get());
    }
    if (parse.cancelled)
        throw ConversionCancelled("the reading was cancelled");
    if (parse.encodingFailed)
        return false;
    if (!parse.fault && !html && !context->wellFormed)
        parse.fault = PageFault{.line = context->lastError.line,
                                .reason = xml::parserReason(context->lastError.message),
                                .malformed = Parse::isSyntaxFault(context->lastError)};
    if (parse.fault)
        throw *parse.fault;
    document_ = context.takeDocument();
    if (root() == nullptr)
        throw PageFault{.line = 1, .reason = "the page has no root element"};
    if (parse.converted)
        places_.clear();
    latin1_ = parse.converted && parse.latin1;
    return true;
}

// A Latin-1 page's characters are a byte each: the page is read again in UTF-8, and each place
// is taken back to the byte its character came from.
void PageTree::placeLatin1(std::string_view bytes, bool html, const std::atomic<bool>* cancel) {
    std::string utf8;
    std::vector<std::size_t> wide; // where the characters of two bytes begin in utf8
    utf8.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8.push_back(c);
            continue;
        }
        wide.push_back(utf8.size());
        utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
        utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
    if (!parsed(utf8, html, Reading::Utf8, cancel))
        return;
    for (auto& [node, places] : places_)
        places = latin1Places(places, textOf(node->content).size(), wide);
}

const TextPlaces& PageTree::placesOf(const xmlNode* text) const {
    static const TextPlaces none;
    const auto found = places_.find(text);
    return found != places_.end() ? found->second : none;
}

std::optional<std::string> attributeOf(const xmlNode& element, std::string_view name) {
    const std::size_t colon = name.find(':');
    const std::string_view prefix =
        colon == std::string_view::npos ? std::string_view{} : name.substr(0, colon);
    const std::string_view namespaceUri = prefix == "xml"    ? textOf(XML_XML_NAMESPACE)
                                          : prefix == "epub" ? epubNamespace
                                                             : std::string_view{};
    for (const xmlAttr* attribute = element.properties; attribute != nullptr;
         attribute = attribute->next) {
        const std::string_view local = textOf(attribute->name);
        const bool matches = attribute->ns == nullptr
                                 ? local == name // the HTML parser keeps "epub:type" whole
                                 : !prefix.empty() && local == name.substr(colon + 1) &&
                                       textOf(attribute->ns->href) == namespaceUri;
        if (!matches)
            continue;
        xmlChar* value = xmlNodeListGetString(element.doc, attribute->children, 1);
        std::string text(textOf(value));
        xmlFree(value);
        return text;
    }
    return std::nullopt;
}

} // namespace kestrova::speech::xhtml
