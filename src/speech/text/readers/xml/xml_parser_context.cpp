#include "speech/text/readers/xml/xml_parser_context.h"

#include "speech/text/readers/xml/xml_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/parserInternals.h> // xmlCreateMemoryParserCtxt

namespace kestrova::speech::xml {

namespace {

// No network, no DTD loaded or applied, no entity substituted, libxml2's limits kept.
constexpr int xmlOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
constexpr int htmlOptions = HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING;

} // namespace

void ParserContext::ContextFree::operator()(xmlParserCtxt* context) const {
    xmlFreeDoc(context->myDoc); // set only when the document was not taken
    context->myDoc = nullptr;
    xmlFreeParserCtxt(context);
}

ParserContext ParserContext::ofBytes(std::string_view bytes, const WholeDocument& reading) {
    xmlInitParser();
    const auto size = static_cast<int>(bytes.size());
    if (reading.syntax == Syntax::Html) {
        ParserContext context(htmlCreateMemoryParserCtxt(bytes.data(), size), reading.externalDtd);
        if (context)
            htmlCtxtUseOptions(context.get(),
                               htmlOptions |
                                   (reading.declaredEncodingIgnored ? HTML_PARSE_IGNORE_ENC : 0));
        context.refuseDeclarations();
        return context;
    }
    ParserContext context(xmlCreateMemoryParserCtxt(bytes.data(), size), reading.externalDtd);
    if (context)
        xmlCtxtUseOptions(context.get(),
                          xmlOptions |
                              (reading.declaredEncodingIgnored ? XML_PARSE_IGNORE_ENC : 0));
    context.refuseDeclarations();
    return context;
}

ParserContext ParserContext::forPushing() {
    xmlInitParser();
    ParserContext context(xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, nullptr),
                          ExternalDtd::NotLoaded);
    if (context)
        xmlCtxtUseOptions(context.get(), xmlOptions);
    context.refuseDeclarations();
    return context;
}

ParserContext::ParserContext(xmlParserCtxt* context, ExternalDtd externalDtd)
    : context_(context), hooks_(std::make_unique<Hooks>()) {
    hooks_->externalDtd = externalDtd;
    if (context_)
        context_->_private = hooks_.get();
}

// Set once the options are: they set callbacks of their own.
void ParserContext::refuseDeclarations() {
    if (!context_)
        return;
    xmlSAXHandler& sax = handler();
    sax.entityDecl = refuseEntityDeclaration;
    sax.externalSubset = nullptr; // never loaded, whatever the options
    if (hooks_->externalDtd == ExternalDtd::RefusedUnlessKnown)
        sax.internalSubset = internalSubset;
}

ParserContext::~ParserContext() = default;

void ParserContext::attach(void* reader, Refusal refuse) {
    hooks_->reader = reader;
    hooks_->refuse = std::move(refuse);
}

Document ParserContext::takeDocument() {
    Document document(context_->myDoc);
    context_->myDoc = nullptr;
    return document;
}

ParserContext::Hooks& ParserContext::hooksOf(void* parserContext) {
    return *static_cast<Hooks*>(static_cast<xmlParserCtxt*>(parserContext)->_private);
}

void ParserContext::refuse(void* parserContext, const std::string& reason) {
    if (const Hooks& hooks = hooksOf(parserContext); hooks.refuse)
        hooks.refuse(reason);
    xmlStopParser(static_cast<xmlParserCtxt*>(parserContext));
}

void ParserContext::refuseEntityDeclaration(void* parserContext, const xmlChar* name, int,
                                            const xmlChar*, const xmlChar*, xmlChar*) {
    refuse(parserContext, entityDeclaredReason(name));
}

void ParserContext::internalSubset(void* parserContext, const xmlChar* name,
                                   const xmlChar* publicId, const xmlChar* systemId) {
    if (!isKnownDtd(textOf(publicId), textOf(systemId))) {
        refuse(parserContext, externalDtdReason(publicId, systemId));
        return;
    }
    xmlSAX2InternalSubset(parserContext, name, publicId, systemId);
}

} // namespace kestrova::speech::xml
