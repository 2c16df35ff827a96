// An OpenDocument text as a structured document: its office:text in order, text:h headings by
// outline level, meta.xml as metadata. An encrypted document is refused.

#include "speech/text/readers/odt/odt_document.h"

#include "speech/quoted_name.h"
#include "speech/text/readers/odt/odt_body.h"
#include "speech/text/readers/odt/odt_names.h"
#include "speech/text/readers/odt/odt_styles.h"
#include "speech/text/readers/office/office_package.h"
#include "speech/text/readers/xml/xml_text.h"

namespace kestrova::speech {

namespace odt {
namespace {

const std::string contentEntry = "content.xml";
constexpr std::string_view textMimetype = "application/vnd.oasis.opendocument.text";

class OdtDocument : public StructuredDocument {
public:
    OdtDocument(std::unique_ptr<ZipArchive> archive, const DocumentOptions& options)
        : package_(std::move(archive)), options_(options) {
        checkMimetype();
        refuseEncrypted();
        if (!package_.contains(contentEntry))
            package_.fail("it has no \"content.xml\": it is not an OpenDocument text");
        package_.check(contentEntry, package_.limits.partBytes);
        if (const auto styles = package_.smallPart("styles.xml"))
            styles_.add(*xmlDocGetRootElement(styles->get()));
        if (const auto properties = package_.smallPart("meta.xml"))
            metadata_ = officeMetadata(*properties);
        defaultLanguage(metadata_, styles_.defaultLanguage());
    }

    const DocumentMetadata& metadata() const override { return metadata_; }

    void read(DocumentSink& sink) override {
        const std::string bytes = package_.read(contentEntry, package_.limits.partBytes);
        const xhtml::PageTree content = package_.textPart(contentEntry, bytes, options_.cancel);
        OdtStyles styles = styles_;
        styles.add(*content.root()); // the automatic styles of the text
        readOdtBody({.document = package_.name(),
                     .entry = contentEntry,
                     .content = content,
                     .styles = styles},
                    options_, sink);
    }

private:
    // A spreadsheet or a drawing is refused for what it is; a text without the entry is read.
    void checkMimetype() const {
        if (!package_.contains("mimetype"))
            return;
        const std::string said(xml::trimmed(package_.read("mimetype", 1024)));
        if (!said.starts_with(textMimetype))
            package_.fail("mimetype", "it says " + quotedValue(said) + ", not " +
                                          std::string(textMimetype) +
                                          ": it is not an OpenDocument text");
    }

    void refuseEncrypted() const {
        const auto manifest = package_.smallPart("META-INF/manifest.xml");
        if (!manifest)
            return;
        bool encrypted = false;
        book_xml::forEachElement(*xmlDocGetRootElement(manifest->get()), [&](const xmlNode& node) {
            encrypted = book_xml::isElement(node, manifestNamespace, "encryption-data");
            return !encrypted;
        });
        if (encrypted)
            package_.fail("it is encrypted (protected by a password): the document cannot be read");
    }

    OfficePackage package_;
    DocumentOptions options_;
    OdtStyles styles_;
    DocumentMetadata metadata_;
};

} // namespace
} // namespace odt

std::unique_ptr<StructuredDocument> openOdtArchive(std::unique_ptr<ZipArchive> archive,
                                                   const DocumentOptions& options) {
    return std::make_unique<odt::OdtDocument>(std::move(archive), options);
}

std::unique_ptr<StructuredDocument> openOdt(const std::filesystem::path& file,
                                            const DocumentOptions& options) {
    return openOdtArchive(officeArchive(file, options, "it is not an OpenDocument text",
                                        "it is protected by a password: the document cannot be "
                                        "read"),
                          options);
}

} // namespace kestrova::speech
