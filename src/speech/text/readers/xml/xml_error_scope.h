#pragma once

#include <libxml/xmlerror.h>

// libxml2 reports some faults of its input, a conversion from the page's encoding that failed
// among them, not to the parser's own handler but to its thread's, which writes them to
// standard error. While an XmlErrorScope lives they come to it instead.
namespace kestrova::speech {

class XmlErrorScope {
public:
    // error(context, error) receives each; the handlers in place before are put back at the end.
    XmlErrorScope(void* context, xmlStructuredErrorFunc error);
    ~XmlErrorScope();
    XmlErrorScope(const XmlErrorScope&) = delete;
    XmlErrorScope& operator=(const XmlErrorScope&) = delete;

private:
    xmlStructuredErrorFunc structured_;
    void* structuredContext_;
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

} // namespace kestrova::speech
