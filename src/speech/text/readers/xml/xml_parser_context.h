#pragma once

#include <functional>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>
#include <string>
#include <string_view>

// Every reader's one way into libxml2.
namespace kestrova::speech::xml {

struct DocumentFree {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
// A tree the parser built, once its reader has taken it.
using Document = std::unique_ptr<xmlDoc, DocumentFree>;

enum class Syntax { Xml, Html };

// What becomes of the external DTD a DOCTYPE names: it is never loaded; a page's is refused
// too unless it is one of the W3C's (isKnownDtd), which EPUB and XHTML pages name.
enum class ExternalDtd { NotLoaded, RefusedUnlessKnown };

// How a document held whole in memory is parsed.
struct WholeDocument {
    Syntax syntax = Syntax::Xml;
    // The bytes are read in the encoding the caller settled (UTF-8, or as marked), whatever
    // the document declares.
    bool declaredEncodingIgnored = false;
    ExternalDtd externalDtd = ExternalDtd::NotLoaded;
};

// An owning handle of a libxml2 parser context and of the document it builds until a reader
// takes it. Every context is made with the one set of options the readers share: no network,
// no DTD loaded or applied, no entity substituted, libxml2's own limits of depth and size kept,
// its reports not printed; and with the one refusal of declarations: an entity declared (any
// but XML's own five could bring in files or blow up in size) stops the parse, as does an
// unknown external DTD where the reading says so. A refusal goes to the reader's refuse
// function, once, before the parser stops; no exception crosses the parser.
class ParserContext {
public:
    using Refusal = std::function<void(const std::string& reason)>;

    // The parse of bytes held whole (which must stay in place while it runs). Empty when
    // libxml2 cannot start a parser (out of memory).
    static ParserContext ofBytes(std::string_view bytes, const WholeDocument& reading);
    // The parse of an XML document pushed piece by piece (xmlParseChunk).
    static ParserContext forPushing();

    ParserContext(ParserContext&&) noexcept = default;
    ParserContext& operator=(ParserContext&&) noexcept = default;
    ~ParserContext();

    explicit operator bool() const { return context_ != nullptr; }
    xmlParserCtxt* get() const { return context_.get(); }
    xmlParserCtxt* operator->() const { return context_.get(); }
    // The parser's callbacks, the context's own copy, for the reader to set its own in.
    xmlSAXHandler& handler() const { return *context_->sax; }

    // The reader the callbacks set in handler() find through readerOf, and where the refusal
    // of a declaration goes. Called before the parse.
    void attach(void* reader, Refusal refuse);
    template <typename Reader> static Reader& readerOf(void* parserContext) {
        return *static_cast<Reader*>(hooksOf(parserContext).reader);
    }

    // The document built, taken out of the context; nullptr when none was.
    Document takeDocument();

private:
    struct Hooks {
        void* reader = nullptr;
        Refusal refuse;
        ExternalDtd externalDtd = ExternalDtd::NotLoaded;
    };
    struct ContextFree {
        void operator()(xmlParserCtxt* context) const;
    };

    ParserContext(xmlParserCtxt* context, ExternalDtd externalDtd);
    void refuseDeclarations();
    static Hooks& hooksOf(void* parserContext);
    static void refuseEntityDeclaration(void* parserContext, const xmlChar* name, int,
                                        const xmlChar*, const xmlChar*, xmlChar*);
    static void internalSubset(void* parserContext, const xmlChar* name, const xmlChar* publicId,
                               const xmlChar* systemId);
    static void refuse(void* parserContext, const std::string& reason);

    std::unique_ptr<xmlParserCtxt, ContextFree> context_;
    std::unique_ptr<Hooks> hooks_; // where the context's _private points: stays put on a move
};

} // namespace kestrova::speech::xml
