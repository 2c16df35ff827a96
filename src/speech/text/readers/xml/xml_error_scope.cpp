#include "speech/text/readers/xml/xml_error_scope.h"

#include <libxml/globals.h>

namespace kestrova::speech {

namespace {

// What libxml2 writes without a structured error (its debugging and memory reports): dropped.
extern "C" void dropGenericError(void*, const char*, ...) {}

} // namespace

XmlErrorScope::XmlErrorScope(void* context, xmlStructuredErrorFunc error)
    : structured_(xmlStructuredError), structuredContext_(xmlStructuredErrorContext),
      generic_(xmlGenericError), genericContext_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(context, error);
    xmlSetGenericErrorFunc(nullptr, dropGenericError);
}

XmlErrorScope::~XmlErrorScope() {
    xmlSetStructuredErrorFunc(structuredContext_, structured_);
    xmlSetGenericErrorFunc(genericContext_, generic_);
}

} // namespace kestrova::speech
