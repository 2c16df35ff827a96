#include "speech/text/ssml_reader.h"

#include "speech/speech_error.h"
#include "speech/text/speech_script_builder.h"
#include "speech/voice_controls.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <libxml/parser.h>
#include <libxml/parserInternals.h> // xmlCreateMemoryParserCtxt
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>

namespace kestrova::speech {

namespace {

struct DocumentFree {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct ParserContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct XmlStringFree {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
using DocumentOwner = std::unique_ptr<xmlDoc, DocumentFree>;
using ParserContextOwner = std::unique_ptr<xmlParserCtxt, ParserContextFree>;
using XmlStringOwner = std::unique_ptr<xmlChar, XmlStringFree>;

constexpr std::string_view ssmlNamespace = "http://www.w3.org/2001/10/synthesis";

std::string_view textOf(const xmlChar* text) {
    return text == nullptr ? std::string_view{} : reinterpret_cast<const char*>(text);
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isCharacterStart(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

struct Place {
    int line = 1;
    int column = 1;
};

// Where a start tag begins (columns in characters, as libxml2 counts them).
// The parser stands at the tag's end: no '<' can occur inside a tag, so the nearest one before
// is its beginning. Only the tag is scanned, so that keeping every element's place costs no
// more than reading it (the input may have been converted from another encoding; libxml2's own
// byte offsets would convert it again at every element).
Place tagStart(const xmlParserInput& input) {
    const auto* base = reinterpret_cast<const char*>(input.base);
    const auto* at = reinterpret_cast<const char*>(input.cur);
    int line = input.line;
    int column = input.col;
    bool crossedLine = false;
    while (at > base && *at != '<') {
        --at;
        if (*at == '\n') {
            --line;
            crossedLine = true;
        } else if (isCharacterStart(*at)) {
            --column;
        }
    }
    if (crossedLine) { // the tag's line began before it: count from that line's start
        const char* lineStart = at;
        while (lineStart > base && lineStart[-1] != '\n')
            --lineStart;
        column = 1 + static_cast<int>(std::count_if(lineStart, at, isCharacterStart));
    }
    return {std::max(line, 1), std::max(column, 1)};
}

// What the parse leaves besides the tree: its first error, and where each start tag begins (the
// tree keeps lines only, and an attribute's fault is reported with a column too).
struct ParseRecord {
    std::string firstError; // "LINE:COLUMN: reason"
    std::unordered_map<const xmlNode*, Place> tagStarts;
    startElementNsSAX2Func buildElement = nullptr;
};

ParseRecord& recordOf(void* parserContext) {
    return *static_cast<ParseRecord*>(static_cast<xmlParserCtxt*>(parserContext)->_private);
}

void keepFirstError(void* parserContext, xmlError* error) {
    ParseRecord& record = recordOf(parserContext);
    if (error->level < XML_ERR_ERROR || !record.firstError.empty())
        return;
    const std::string_view reason = trimmed(error->message ? error->message : "malformed markup");
    record.firstError = std::to_string(std::max(error->line, 1)) + ":" +
                        std::to_string(std::max(error->int2, 1)) + ": " + std::string(reason);
}

// Entities other than XML's own five could bring in files or blow up in size; a document that
// declares one is refused where the declaration stands.
void refuseEntityDeclaration(void* parserContext, const xmlChar* name, int, const xmlChar*,
                             const xmlChar*, xmlChar*) {
    auto* context = static_cast<xmlParserCtxt*>(parserContext);
    ParseRecord& record = recordOf(parserContext);
    if (record.firstError.empty()) {
        const int line = context->input != nullptr ? context->input->line : 1;
        const int column = context->input != nullptr ? context->input->col : 1;
        record.firstError = std::to_string(line) + ":" + std::to_string(std::max(column, 1)) +
                            ": entity '" + std::string(textOf(name)) +
                            "' is declared; entities are not read";
    }
    xmlStopParser(context);
}

void buildElementKeepingItsOffset(void* parserContext, const xmlChar* localName,
                                  const xmlChar* prefix, const xmlChar* namespaceUri,
                                  int namespaceCount, const xmlChar** namespaces,
                                  int attributeCount, int defaultedCount,
                                  const xmlChar** attributes) {
    auto* context = static_cast<xmlParserCtxt*>(parserContext);
    ParseRecord& record = recordOf(parserContext);
    record.buildElement(parserContext, localName, prefix, namespaceUri, namespaceCount, namespaces,
                        attributeCount, defaultedCount, attributes);
    if (context->node == nullptr)
        return;
    if (context->input != nullptr)
        record.tagStarts[context->node] = tagStart(*context->input);
}

DocumentOwner parse(std::string_view document, const std::string& sourceName, ParseRecord& record) {
    if (document.size() > ssmlMaxBytes)
        throw SpeechError(sourceName + ": the SSML document is larger than " +
                          std::to_string(ssmlMaxBytes >> 20) + " MiB");
    if (trimmed(document).empty())
        throw SpeechError(sourceName + ":1:1: Document is empty");
    xmlInitParser();
    ParserContextOwner context(
        xmlCreateMemoryParserCtxt(document.data(), static_cast<int>(document.size())));
    if (!context)
        throw SpeechError(sourceName + ": cannot start the XML parser: out of memory");
    context->_private = &record;
    xmlSAXHandler& handler = *context->sax;
    handler.serror = keepFirstError;
    handler.entityDecl = refuseEntityDeclaration;
    record.buildElement = handler.startElementNs;
    handler.startElementNs = buildElementKeepingItsOffset;
    // No network, no DTD loaded or applied, no entity substituted, libxml2's limits kept.
    xmlCtxtUseOptions(context.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlParseDocument(context.get());
    DocumentOwner tree(context->myDoc);
    context->myDoc = nullptr;
    if (record.firstError.empty() && (!context->wellFormed || !tree)) {
        const xmlError& last = context->lastError;
        record.firstError = std::to_string(std::max(last.line, 1)) + ":" +
                            std::to_string(std::max(last.int2, 1)) + ": " +
                            std::string(trimmed(last.message ? last.message : "malformed markup"));
    }
    if (!record.firstError.empty())
        throw SpeechError(sourceName + ":" + record.firstError);
    return tree;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) ==
               (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
    });
}

// A number as attribute values give it: an optional sign, digits with an optional fraction,
// then a unit.
struct Quantity {
    double value = 0;
    bool signedChange = false;
    std::string_view unit;
};

std::optional<Quantity> quantityOf(std::string_view text) {
    text = trimmed(text);
    Quantity quantity;
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        quantity.signedChange = true;
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto isDigit = [](char c) {
        return c >= '0' && c <= '9';
    };
    std::size_t end = 0;
    std::size_t digits = 0;
    while (end < text.size() && isDigit(text[end]))
        ++end, ++digits;
    if (end < text.size() && text[end] == '.') {
        ++end;
        while (end < text.size() && isDigit(text[end]))
            ++end, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    double value = 0;
    const auto [stop, failure] = std::from_chars(text.data(), text.data() + end, value);
    if (failure != std::errc{} || stop != text.data() + end || !std::isfinite(value))
        return std::nullopt;
    quantity.value = negative ? -value : value;
    quantity.unit = text.substr(end);
    return quantity;
}

struct NamedValue {
    std::string_view name;
    double value;
};

template <std::size_t Count>
std::optional<double> namedValue(const NamedValue (&table)[Count], std::string_view text) {
    for (const NamedValue& entry : table)
        if (entry.name == text)
            return entry.value;
    return std::nullopt;
}

double decibels(double gain) {
    return std::pow(10.0, gain / 20.0);
}

// The named values are levels of the voice's own (they replace the enclosing value); numbers
// are changes of the enclosing value.
const NamedValue namedRates[] = {{"x-slow", 0.5}, {"slow", 0.75},  {"medium", 1.0},
                                 {"fast", 1.5},   {"x-fast", 2.0}, {"default", 1.0}};
const NamedValue namedPitches[] = {{"x-low", 0.7}, {"low", 0.85},   {"medium", 1.0},
                                   {"high", 1.2},  {"x-high", 1.4}, {"default", 1.0}};
const NamedValue namedVolumes[] = {
    {"silent", 0.0},       {"x-soft", decibels(-12)}, {"soft", decibels(-6)}, {"medium", 1.0},
    {"loud", decibels(6)}, {"x-loud", decibels(12)},  {"default", 1.0}};

// "150%" is 1.5 times, "+20%" and "-10%" change by that part.
std::optional<double> percentageFactor(const Quantity& quantity) {
    if (quantity.unit != "%")
        return std::nullopt;
    return quantity.signedChange ? 1.0 + quantity.value / 100.0 : quantity.value / 100.0;
}

// A prosody attribute's value: a named level, a percentage, or the attribute's own unit,
// which ownUnit turns into a factor of the enclosing value.
template <std::size_t Count>
std::optional<double> prosodyValue(std::string_view text, double enclosing,
                                   const NamedValue (&named)[Count],
                                   std::optional<double> (*ownUnit)(const Quantity&)) {
    if (const auto level = namedValue(named, trimmed(text)))
        return level;
    const auto quantity = quantityOf(text);
    if (!quantity)
        return std::nullopt;
    auto factor = percentageFactor(*quantity);
    if (!factor)
        factor = ownUnit(*quantity);
    return factor ? std::optional<double>(enclosing * *factor) : std::nullopt;
}

std::optional<double> rateOf(std::string_view text, double enclosing) {
    return prosodyValue(text, enclosing, namedRates, [](const Quantity& quantity) {
        // a plain multiplier
        return quantity.unit.empty() && !quantity.signedChange
                   ? std::optional<double>(quantity.value)
                   : std::nullopt;
    });
}

std::optional<double> pitchOf(std::string_view text, double enclosing) {
    return prosodyValue(text, enclosing, namedPitches, [](const Quantity& quantity) {
        return equalsIgnoringCase(quantity.unit, "st")
                   ? std::optional<double>(std::exp2(quantity.value / 12.0))
                   : std::nullopt;
    });
}

std::optional<double> volumeOf(std::string_view text, double enclosing) {
    return prosodyValue(text, enclosing, namedVolumes, [](const Quantity& quantity) {
        return equalsIgnoringCase(quantity.unit, "dB")
                   ? std::optional<double>(decibels(quantity.value))
                   : std::nullopt;
    });
}

// The ranges a conversion accepts; each level of nesting is held to them.
Prosody clamped(Prosody prosody) {
    prosody.rate = rateRange.clamped(prosody.rate);
    prosody.pitch = pitchRange.clamped(prosody.pitch);
    prosody.volume = volumeRange.clamped(prosody.volume);
    return prosody;
}

struct Emphasis {
    std::string_view level;
    Prosody change;
};
const Emphasis emphases[] = {{"strong", {0.9, 1.1, 1.4}},
                             {"moderate", {0.95, 1.05, 1.2}},
                             {"none", {1.0, 1.0, 1.0}},
                             {"reduced", {1.05, 0.95, 0.8}}};

struct NamedPause {
    std::string_view strength;
    int milliseconds;
};
const NamedPause pauseStrengths[] = {{"none", 0},     {"x-weak", 100}, {"weak", 200},
                                     {"medium", 400}, {"strong", 700}, {"x-strong", 1200}};
constexpr double longestPauseMilliseconds = 3600.0 * 1000.0;

// The content spoken one character at a time.
std::string spacedCharacters(std::string_view text) {
    std::string spaced;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (isXmlSpace(c))
            continue;
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        if (!continuation && !spaced.empty())
            spaced.push_back(' ');
        spaced.push_back(c);
    }
    return spaced;
}

struct Voicing {
    std::string voiceName;
    Prosody prosody;
};

class SsmlWalk {
public:
    SsmlWalk(const ParseRecord& record, const std::string& sourceName, const SsmlWarning& warn)
        : record_(record), sourceName_(sourceName), warn_(warn) {}

    SpeechScript read(const xmlNode* root) {
        if (qualifiedName(root) != "speak" || !isSsml(root))
            fail(root, "the root element is <" + qualifiedName(root) + ">, not <speak>");
        walkElement(root, Voicing{}, 1);
        return builder_.finish();
    }

private:
    static bool isSsml(const xmlNode* element) {
        return element->ns == nullptr || textOf(element->ns->href) == ssmlNamespace;
    }

    static std::string qualifiedName(const xmlNode* element) {
        std::string name;
        if (element->ns != nullptr && element->ns->prefix != nullptr)
            name.append(textOf(element->ns->prefix)).push_back(':');
        return name.append(textOf(element->name));
    }

    std::string where(const xmlNode* element) const {
        const auto found = record_.tagStarts.find(element);
        if (found != record_.tagStarts.end())
            return sourceName_ + ":" + std::to_string(found->second.line) + ":" +
                   std::to_string(found->second.column);
        return sourceName_ + ":" + std::to_string(xmlGetLineNo(element)) + ":1";
    }

    [[noreturn]] void fail(const xmlNode* element, const std::string& reason) const {
        throw SpeechError(where(element) + ": " + reason);
    }

    static std::optional<std::string> attribute(const xmlNode* element, const char* name) {
        const XmlStringOwner value(xmlGetNoNsProp(element, reinterpret_cast<const xmlChar*>(name)));
        if (!value)
            return std::nullopt;
        return std::string(textOf(value.get()));
    }

    [[noreturn]] void failValue(const xmlNode* element, const char* name,
                                const std::string& value) const {
        fail(element, "malformed " + std::string(name) + " \"" + value + "\" of <" +
                          qualifiedName(element) + ">");
    }

    void walkChildren(const xmlNode* element, const Voicing& voicing, int depth) {
        for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
            switch (child->type) {
            case XML_ELEMENT_NODE:
                walkElement(child, voicing, depth + 1);
                break;
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                builder_.addText(textOf(child->content), voicing.voiceName, voicing.prosody);
                break;
            case XML_ENTITY_REF_NODE:
                fail(element,
                     "entity reference &" + std::string(textOf(child->name)) + "; is not read");
            default:
                break;
            }
        }
    }

    void walkElement(const xmlNode* element, const Voicing& voicing, int depth) {
        if (depth > ssmlMaxDepth)
            fail(element,
                 "the markup is nested deeper than " + std::to_string(ssmlMaxDepth) + " elements");
        const std::string_view name = isSsml(element) ? textOf(element->name) : std::string_view{};
        if (name == "speak") {
            walkChildren(element, voicing, depth);
        } else if (name == "p" || name == "s") {
            const auto kind =
                name == "p" ? SpeechBreak::Kind::Paragraph : SpeechBreak::Kind::Sentence;
            builder_.addBoundary(kind);
            walkChildren(element, voicing, depth);
            builder_.addBoundary(kind);
        } else if (name == "break") {
            builder_.addPause(pauseOf(element));
        } else if (name == "prosody") {
            walkChildren(element, prosodyOf(element, voicing), depth);
        } else if (name == "emphasis") {
            walkChildren(element, emphasisOf(element, voicing), depth);
        } else if (name == "sub") {
            const auto alias = attribute(element, "alias");
            if (!alias)
                fail(element, "<sub> has no alias");
            builder_.addText(*alias, voicing.voiceName, voicing.prosody);
        } else if (name == "say-as") {
            sayAs(element, voicing);
        } else if (name == "voice") {
            Voicing inner = voicing;
            if (const auto voiceName = attribute(element, "name");
                voiceName && !trimmed(*voiceName).empty())
                inner.voiceName = trimmed(*voiceName);
            walkChildren(element, inner, depth);
        } else if (name == "mark") {
            const auto markName = attribute(element, "name");
            if (!markName || markName->empty())
                fail(element, "<mark> has no name");
            builder_.addMark(*markName);
        } else {
            const std::string unknown = qualifiedName(element);
            if (warned_.insert(unknown).second && warn_)
                warn_(where(element) + ": unknown element <" + unknown + "> is read as its text");
            walkChildren(element, voicing, depth);
        }
    }

    int pauseOf(const xmlNode* element) const {
        if (const auto time = attribute(element, "time")) {
            const auto quantity = quantityOf(*time);
            if (!quantity || quantity->signedChange)
                failValue(element, "time", *time);
            double milliseconds = 0;
            if (equalsIgnoringCase(quantity->unit, "ms"))
                milliseconds = quantity->value;
            else if (equalsIgnoringCase(quantity->unit, "s"))
                milliseconds = quantity->value * 1000.0;
            else
                failValue(element, "time", *time);
            if (milliseconds > longestPauseMilliseconds)
                fail(element, "break time \"" + *time + "\" is longer than an hour");
            return static_cast<int>(std::lround(milliseconds));
        }
        const std::string strength = attribute(element, "strength").value_or("medium");
        for (const NamedPause& pause : pauseStrengths)
            if (pause.strength == trimmed(strength))
                return pause.milliseconds;
        failValue(element, "strength", strength);
    }

    Voicing prosodyOf(const xmlNode* element, Voicing voicing) const {
        Prosody& prosody = voicing.prosody;
        const auto apply = [&](const char* name, double& value, auto parse) {
            if (const auto text = attribute(element, name)) {
                const auto changed = parse(*text, value);
                if (!changed)
                    failValue(element, name, *text);
                value = *changed;
            }
        };
        apply("rate", prosody.rate, rateOf);
        apply("pitch", prosody.pitch, pitchOf);
        apply("volume", prosody.volume, volumeOf);
        prosody = clamped(prosody);
        return voicing;
    }

    Voicing emphasisOf(const xmlNode* element, Voicing voicing) const {
        const std::string level = attribute(element, "level").value_or("moderate");
        for (const Emphasis& emphasis : emphases) {
            if (emphasis.level == trimmed(level)) {
                Prosody& prosody = voicing.prosody;
                prosody.rate *= emphasis.change.rate;
                prosody.pitch *= emphasis.change.pitch;
                prosody.volume *= emphasis.change.volume;
                prosody = clamped(prosody);
                return voicing;
            }
        }
        failValue(element, "level", level);
    }

    void sayAs(const xmlNode* element, const Voicing& voicing) {
        const XmlStringOwner content(xmlNodeGetContent(element));
        const std::string_view text = textOf(content.get());
        const std::string interpretAs = attribute(element, "interpret-as").value_or("");
        const std::string_view kind = trimmed(interpretAs);
        if (kind == "characters" || kind == "spell-out" || kind == "digits")
            builder_.addText(spacedCharacters(text), voicing.voiceName, voicing.prosody);
        else
            builder_.addText(text, voicing.voiceName, voicing.prosody);
    }

    const ParseRecord& record_;
    const std::string& sourceName_;
    const SsmlWarning& warn_;
    SpeechScriptBuilder builder_;
    std::set<std::string> warned_;
};

} // namespace

SpeechScript readSsml(std::string_view document, const std::string& sourceName,
                      const SsmlWarning& warn) {
    ParseRecord record;
    const DocumentOwner tree = parse(document, sourceName, record);
    const xmlNode* root = xmlDocGetRootElement(tree.get());
    if (root == nullptr)
        throw SpeechError(sourceName + ":1:1: the document has no root element");
    return SsmlWalk(record, sourceName, warn).read(root);
}

} // namespace kestrova::speech
