#include "speech/text/readers/ssml/ssml_reader.h"

#include "speech/base/warning_tally.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/readers/ssml/ssml_markup.h"
#include "speech/text/readers/ssml/ssml_values.h"
#include "speech/text/readers/ssml/ssml_xml_parser.h"
#include "speech/text/readers/xml/xml_parser_context.h"
#include "speech/text/readers/xml/xml_text.h"

#include <algorithm>
#include <exception>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <memory>

namespace kestrova::speech {

using namespace ssml;
using xml::parserReason;
using xml::placeOf;
using xml::textOf;

TextEncoding ssmlEncoding(std::string_view document, TextEncoding detected) {
    if (detected != TextEncoding::Windows1252 || !document.starts_with("<?xml"))
        return detected == TextEncoding::Windows1252 ? detected : TextEncoding::Automatic;
    const std::string_view declaration = document.substr(0, document.find("?>"));
    return declaration.find("encoding") == std::string_view::npos ? detected
                                                                  : TextEncoding::Automatic;
}

// Reads the document as the parser goes, element by element, without a tree: what is kept is
// the script so far and one frame for each element open.
class SsmlReader::Parse {
public:
    Parse(std::string sourceName, SsmlWarning warn, TextEncoding encoding)
        : sourceName_(std::move(sourceName)), warn_(std::move(warn)),
          context_(xml::ParserContext::forPushing()), markup_(sourceName_) {
        if (!context_)
            throw SpeechError(sourceName_ + ": cannot start the XML parser: out of memory");
        // A declared entity is refused where the declaration stands.
        context_.attach(
            this, [this](const std::string& reason) { guarded([&] { fail(here(), reason); }); });
        xmlSAXHandler& handler = context_.handler();
        handler.serror = keepFirstError;
        handler.startElementNs = startElement;
        handler.endElementNs = endElement;
        handler.characters = characters;
        handler.ignorableWhitespace = characters;
        handler.cdataBlock = characters;
        handler.reference = entityReference;
        handler.comment = nullptr;
        handler.processingInstruction = nullptr;
        useEncoding(*context_.get(), encoding, sourceName_);
    }

    void push(std::string_view bytes) {
        if (bytes.size() > ssmlMaxBytes - std::min(ssmlMaxBytes, bytesRead_))
            throw SpeechError(sourceName_ + ": the SSML document is larger than " +
                              std::to_string(ssmlMaxBytes >> 20) + " MiB");
        bytesRead_ += bytes.size();
        anyContent_ = anyContent_ || !trimmed(bytes).empty();
        // In small pieces: the parser keeps a copy of what it has not read yet.
        constexpr std::size_t pieceBytes = 1 << 16;
        for (std::size_t at = 0; at < bytes.size(); at += pieceBytes) {
            const std::string_view piece = bytes.substr(at, pieceBytes);
            xmlParseChunk(context_.get(), piece.data(), static_cast<int>(piece.size()), 0);
            throwAtFirstFault();
        }
    }

    SpeechScript finish() {
        if (!anyContent_)
            throw SpeechError(sourceName_ + ":1:1: the document is empty");
        xmlParseChunk(context_.get(), nullptr, 0, 1);
        if (firstFault_.empty() && !context_->wellFormed) {
            const xmlError& last = context_->lastError;
            firstFault_ = placeOf(last.line, last.int2) + ": " + parserReason(last.message);
        }
        throwAtFirstFault();
        if (!markup_.rootSeen())
            throw SpeechError(sourceName_ + ":1:1: the document has no root element");
        // Said once the document is known to be well formed, as a tree's reader would.
        if (warn_) {
            // A few, then their number: a document may hold thousands of unknown elements.
            WarningTally told(warn_);
            for (const std::string& warning : markup_.warnings())
                told.tell(warning);
            told.tellUntold(sourceName_ + ": ", "unknown elements are read as their text");
        }
        return markup_.finish();
    }

private:
    static Parse& of(void* parserContext) {
        return xml::ParserContext::readerOf<Parse>(parserContext);
    }

    void throwAtFirstFault() const {
        if (firstFault_.empty())
            return;
        // Pushed text without markup is "empty" to the parser: say what is missing.
        constexpr std::string_view empty = "Document is empty";
        if (!markup_.rootSeen() && firstFault_.ends_with(empty))
            throw SpeechError(sourceName_ + ":" +
                              firstFault_.substr(0, firstFault_.size() - empty.size()) +
                              "Start tag expected, '<' not found");
        throw SpeechError(sourceName_ + ":" + firstFault_);
    }

    // Runs a step of the reading inside a callback of the parser, which no exception may
    // cross: a fault stops the parser and is thrown once it has returned.
    template <typename Step> void guarded(Step step) {
        if (!firstFault_.empty())
            return;
        try {
            step();
        } catch (const MarkupFault& fault) {
            firstFault_ = fault.placeAndReason;
        } catch (const std::exception& failure) {
            firstFault_ =
                placeOf(context_->input ? context_->input->line : 1, 1) + ": " + failure.what();
        }
        if (!firstFault_.empty())
            xmlStopParser(context_.get());
    }

    [[noreturn]] static void fail(const Place& place, const std::string& reason) {
        throw MarkupFault{placeOf(place.line, place.column) + ": " + reason};
    }

    Place here() const {
        if (context_->input == nullptr)
            return {};
        return {.line = context_->input->line, .column = std::max(context_->input->col, 1)};
    }

    static void keepFirstError(void* parserContext, xmlError* error) {
        Parse& parse = of(parserContext);
        if (error->level >= XML_ERR_ERROR && parse.firstFault_.empty())
            parse.firstFault_ =
                placeOf(error->line, error->int2) + ": " + parserReason(error->message);
    }

    static void entityReference(void* parserContext, const xmlChar* name) {
        Parse& parse = of(parserContext);
        parse.guarded([&] {
            fail(parse.here(),
                 "entity reference &" + cutInTheMiddle(textOf(name)) + "; is not read");
        });
    }

    static void startElement(void* parserContext, const xmlChar* localName, const xmlChar* prefix,
                             const xmlChar* namespaceUri, int, const xmlChar**, int attributeCount,
                             int, const xmlChar** attributes) {
        Parse& parse = of(parserContext);
        parse.guarded([&] {
            StartTag tag{.localName = textOf(localName),
                         .qualifiedName = {},
                         .ssml = namespaceUri == nullptr || textOf(namespaceUri) == ssmlNamespace,
                         .attributes = attributes,
                         .attributeCount = attributeCount,
                         .place =
                             parse.context_->input ? tagStart(*parse.context_->input) : Place{}};
            if (prefix != nullptr)
                tag.qualifiedName.append(textOf(prefix)).push_back(':');
            tag.qualifiedName.append(tag.localName);
            parse.markup_.start(tag);
        });
    }

    static void endElement(void* parserContext, const xmlChar*, const xmlChar*, const xmlChar*) {
        Parse& parse = of(parserContext);
        parse.guarded([&] { parse.markup_.end(parse.here()); });
    }

    static void characters(void* parserContext, const xmlChar* text, int length) {
        Parse& parse = of(parserContext);
        parse.guarded([&] {
            parse.markup_.text(std::string_view(reinterpret_cast<const char*>(text),
                                                static_cast<std::size_t>(length)));
        });
    }

    std::string sourceName_;
    SsmlWarning warn_;
    xml::ParserContext context_;
    std::string firstFault_; // "LINE:COLUMN: reason"
    std::size_t bytesRead_ = 0;
    bool anyContent_ = false;
    SsmlMarkup markup_;
};

SsmlReader::SsmlReader(std::string sourceName, SsmlWarning warn, TextEncoding encoding)
    : parse_(std::make_unique<Parse>(std::move(sourceName), std::move(warn), encoding)) {}

SsmlReader::~SsmlReader() = default;

void SsmlReader::push(std::string_view bytes) {
    parse_->push(bytes);
}

SpeechScript SsmlReader::finish() {
    return parse_->finish();
}

SpeechScript readSsml(std::string_view document, const std::string& sourceName,
                      const SsmlWarning& warn, TextEncoding encoding) {
    SsmlReader reader(sourceName, warn, encoding);
    reader.push(document);
    return reader.finish();
}

} // namespace kestrova::speech
