#include "speech/text/readers/epub/epub_encryption.h"

#include "speech/text/readers/xml/book_xml.h"

namespace kestrova::speech::epub {

using namespace book_xml;

namespace {

bool isFontObfuscation(std::string_view algorithm) {
    return algorithm == "http://www.idpf.org/2008/embedding" ||
           algorithm == "http://ns.adobe.com/pdf/enc#RC";
}

} // namespace

std::string encryptedEntryOf(std::string_view encryptionXml, const Refusal& fail) {
    const Document document = parse(encryptionXml, fail);
    std::string encrypted;
    forEachElement(*xmlDocGetRootElement(document.get()), [&](const xmlNode& element) {
        if (!isElement(element, encryptionNamespace, "EncryptedData"))
            return true;
        const xmlNode* method = child(element, encryptionNamespace, "EncryptionMethod");
        const std::string algorithm = method ? attribute(*method, "Algorithm").value_or("") : "";
        if (isFontObfuscation(algorithm))
            return true;
        const xmlNode* cipherData = child(element, encryptionNamespace, "CipherData");
        const xmlNode* reference =
            cipherData ? child(*cipherData, encryptionNamespace, "CipherReference") : nullptr;
        const auto place = reference
                               ? resolveReference("", attribute(*reference, "URI").value_or(""))
                               : std::nullopt;
        encrypted = place && !place->entry.empty() ? place->entry : "META-INF/encryption.xml";
        return false;
    });
    return encrypted;
}

} // namespace kestrova::speech::epub
