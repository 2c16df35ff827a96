#include "speech/text/ssml_reader.h"

#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/speech_script_builder.h"
#include "speech/voice_controls.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h> // xmlSwitchToEncoding
#include <libxml/xmlerror.h>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace kestrova::speech {

namespace {

struct ParserContextFree {
    void operator()(xmlParserCtxt* context) const {
        xmlFreeDoc(context->myDoc); // the document node alone: no tree is built
        context->myDoc = nullptr;
        xmlFreeParserCtxt(context);
    }
};
using ParserContextOwner = std::unique_ptr<xmlParserCtxt, ParserContextFree>;

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
// is its beginning. Only the tag is scanned (the input may have been converted from another
// encoding; libxml2's own byte offsets would convert it again at every element).
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

struct LimitReason {
    std::string_view parserWords; // what libxml2's message says
    std::string_view reason;      // what the user is told instead
};
// libxml2's own limits, said in our terms: its advice to relax them is for programmers.
const LimitReason limitReasons[] = {
    {"Excessive depth", "the markup is nested deeper than the XML parser allows"},
    {"AttValue length too long", "an attribute value is longer than 10,000,000 bytes"},
    {"huge text node", "a text is longer than 10,000,000 bytes"},
    {"text too long", "a text is longer than 10,000,000 bytes"},
    {"Name too long", "a name is longer than 50,000 bytes"},
    {"Huge input lookup", "a piece of markup is longer than the XML parser allows"},
};

// A reason of libxml2's as messages give it: its limits in our words, and the rest kept on
// one line and cut when long (its messages may quote the document).
std::string parserReason(const char* message) {
    const std::string_view words = trimmed(message != nullptr ? message : "malformed markup");
    for (const LimitReason& limit : limitReasons)
        if (words.find(limit.parserWords) != std::string_view::npos)
            return std::string(limit.reason);
    std::string_view kept = words.substr(0, words.find("XML_PARSE_HUGE"));
    kept = trimmed(kept.substr(0, kept.find_last_not_of(" ,;:") + 1));
    if (isPlainName(kept) && kept.size() <= 200)
        return std::string(kept);
    const std::string quoted = quotedValue(kept, 200); // escaped, in quotes we take off
    return quoted.front() == '"' ? quoted.substr(1, quoted.size() - 2) : quoted;
}

std::string placeOf(int line, int column) {
    return std::to_string(std::max(line, 1)) + ":" + std::to_string(std::max(column, 1));
}

// libxml2's name of an encoding given on the command line.
const char* parserEncodingName(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8:
        return "UTF-8";
    case TextEncoding::Windows1252:
        return "windows-1252";
    case TextEncoding::Utf16LE:
        return "UTF-16LE";
    case TextEncoding::Utf16BE:
        return "UTF-16BE";
    case TextEncoding::Utf32LE:
        return "UTF-32LE";
    case TextEncoding::Utf32BE:
        return "UTF-32BE";
    case TextEncoding::Automatic:
        break;
    }
    return nullptr;
}

// The parser decodes the document itself, by its byte order mark or declaration; an encoding
// given on the command line wins over both.
void useEncoding(xmlParserCtxt& context, TextEncoding encoding, const std::string& sourceName) {
    const char* name = parserEncodingName(encoding);
    if (name == nullptr)
        return;
    xmlCharEncodingHandler* handler = xmlFindCharEncodingHandler(name);
    if (handler == nullptr || xmlSwitchToEncoding(&context, handler) != 0)
        throw SpeechError(sourceName + ": the XML parser cannot read " + name);
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

// An element's start as the parser hands it over.
struct StartTag {
    std::string_view localName;
    std::string qualifiedName;
    bool ssml = false;
    const xmlChar** attributes = nullptr; // five pointers each: name, prefix, URI, value, end
    int attributeCount = 0;
    Place place;
};

// An attribute value as the document gives it. Without entity substitution the parser hands
// over "&amp;" as "&#38;" (and every other reference resolved); a literal "&" cannot occur.
std::string ampersandsDecoded(std::string_view value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t at = 0; at < value.size();) {
        if (value.substr(at, 5) == "&#38;") {
            decoded.push_back('&');
            at += 5;
        } else {
            decoded.push_back(value[at++]);
        }
    }
    return decoded;
}

// The value of an attribute in no namespace, as xmlGetNoNsProp finds it.
std::optional<std::string> attribute(const StartTag& tag, std::string_view name) {
    for (int i = 0; i < tag.attributeCount; ++i) {
        const xmlChar* const* entry = tag.attributes + 5 * static_cast<std::ptrdiff_t>(i);
        if (entry[2] == nullptr && textOf(entry[0]) == name)
            return ampersandsDecoded(
                std::string_view(reinterpret_cast<const char*>(entry[3]),
                                 static_cast<std::size_t>(entry[4] - entry[3])));
    }
    return std::nullopt;
}

// A fault of the markup found while reading it: "LINE:COLUMN: reason".
struct MarkupFault {
    std::string placeAndReason;
};

// What becomes of an element's content.
enum class Content {
    Read,      // spoken as the markup says
    Collected, // gathered as text for the <say-as> around it
    Skipped,   // not spoken: the content of <sub>, <break> or <mark>
};

struct Frame {
    Content content = Content::Read;
    Voicing voicing;
    std::optional<SpeechBreak::Kind> boundary; // <p> or <s>: its end is one too
    bool sayAs = false;                        // its collected text is spoken at its end
    bool spelled = false;                      // ... one character at a time
};

} // namespace

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
        : sourceName_(std::move(sourceName)), warn_(std::move(warn)) {
        xmlInitParser();
        context_.reset(xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, nullptr));
        if (!context_)
            throw SpeechError(sourceName_ + ": cannot start the XML parser: out of memory");
        // No network, no DTD loaded or applied, no entity substituted, libxml2's limits kept.
        xmlCtxtUseOptions(context_.get(),
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        context_->_private = this;
        xmlSAXHandler& handler = *context_->sax;
        handler.serror = keepFirstError;
        handler.entityDecl = refuseEntityDeclaration;
        handler.startElementNs = startElement;
        handler.endElementNs = endElement;
        handler.characters = characters;
        handler.ignorableWhitespace = characters;
        handler.cdataBlock = characters;
        handler.reference = entityReference;
        handler.comment = nullptr;
        handler.processingInstruction = nullptr;
        useEncoding(*context_, encoding, sourceName_);
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
        if (!rootSeen_)
            throw SpeechError(sourceName_ + ":1:1: the document has no root element");
        // Said once the document is known to be well formed, as a tree's reader would.
        if (warn_)
            for (const std::string& warning : warnings_)
                warn_(warning);
        return builder_.finish();
    }

private:
    static Parse& of(void* parserContext) {
        return *static_cast<Parse*>(static_cast<xmlParserCtxt*>(parserContext)->_private);
    }

    void throwAtFirstFault() const {
        if (firstFault_.empty())
            return;
        // Pushed text without markup is "empty" to the parser: say what is missing.
        constexpr std::string_view empty = "Document is empty";
        if (!rootSeen_ && firstFault_.ends_with(empty))
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
        return {context_->input->line, std::max(context_->input->col, 1)};
    }

    static void keepFirstError(void* parserContext, xmlError* error) {
        Parse& parse = of(parserContext);
        if (error->level >= XML_ERR_ERROR && parse.firstFault_.empty())
            parse.firstFault_ =
                placeOf(error->line, error->int2) + ": " + parserReason(error->message);
    }

    // Entities other than XML's own five could bring in files or blow up in size; a document
    // that declares one is refused where the declaration stands.
    static void refuseEntityDeclaration(void* parserContext, const xmlChar* name, int,
                                        const xmlChar*, const xmlChar*, xmlChar*) {
        Parse& parse = of(parserContext);
        parse.guarded([&] {
            fail(parse.here(),
                 "entity " + quotedValue(textOf(name)) + " is declared; entities are not read");
        });
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
            parse.start(tag);
        });
    }

    static void endElement(void* parserContext, const xmlChar*, const xmlChar*, const xmlChar*) {
        Parse& parse = of(parserContext);
        parse.guarded([&] { parse.end(); });
    }

    static void characters(void* parserContext, const xmlChar* text, int length) {
        Parse& parse = of(parserContext);
        parse.guarded([&] {
            parse.text(std::string_view(reinterpret_cast<const char*>(text),
                                        static_cast<std::size_t>(length)));
        });
    }

    std::string where(const Place& place) const {
        return sourceName_ + ":" + placeOf(place.line, place.column);
    }

    // An element's name as messages show it; XML names are printable, but may be long.
    static std::string tagOf(const StartTag& tag) {
        return "<" + cutInTheMiddle(tag.qualifiedName) + ">";
    }

    [[noreturn]] static void failValue(const StartTag& tag, const char* name,
                                       const std::string& value) {
        fail(tag.place,
             "malformed " + std::string(name) + " " + quotedValue(value) + " of " + tagOf(tag));
    }

    void start(const StartTag& tag) {
        if (frames_.size() + 1 > static_cast<std::size_t>(ssmlMaxDepth))
            fail(tag.place,
                 "the markup is nested deeper than " + std::to_string(ssmlMaxDepth) + " elements");
        if (frames_.empty()) {
            if (tag.qualifiedName != "speak" || !tag.ssml)
                fail(tag.place, "the root element is " + tagOf(tag) + ", not <speak>");
            rootSeen_ = true;
            frames_.emplace_back();
            return;
        }
        const Frame& parent = frames_.back();
        if (parent.content != Content::Read) {
            frames_.push_back({.content = parent.content,
                               .voicing = parent.voicing,
                               .boundary = std::nullopt,
                               .sayAs = false,
                               .spelled = false});
            return;
        }
        frames_.push_back(frameOf(tag, parent.voicing));
        checkSize(tag.place);
    }

    void checkSize(const Place& place) const {
        if (builder_.size() > ssmlMaxItems)
            fail(place, "the markup makes more than " + std::to_string(ssmlMaxItems) +
                            " runs, breaks and marks");
    }

    // What an element inside read content does, and the frame its content is read in.
    Frame frameOf(const StartTag& tag, const Voicing& voicing) {
        Frame frame{.content = Content::Read,
                    .voicing = voicing,
                    .boundary = std::nullopt,
                    .sayAs = false,
                    .spelled = false};
        const std::string_view name = tag.ssml ? tag.localName : std::string_view{};
        if (name == "speak") {
        } else if (name == "p" || name == "s") {
            frame.boundary =
                name == "p" ? SpeechBreak::Kind::Paragraph : SpeechBreak::Kind::Sentence;
            builder_.addBoundary(*frame.boundary);
        } else if (name == "break") {
            builder_.addPause(pauseOf(tag));
            frame.content = Content::Skipped;
        } else if (name == "prosody") {
            frame.voicing = prosodyOf(tag, voicing);
        } else if (name == "emphasis") {
            frame.voicing = emphasisOf(tag, voicing);
        } else if (name == "sub") {
            const auto alias = attribute(tag, "alias");
            if (!alias)
                fail(tag.place, "<sub> has no alias");
            builder_.addText(*alias, voicing.voiceName, voicing.prosody);
            frame.content = Content::Skipped;
        } else if (name == "say-as") {
            const std::string kind = attribute(tag, "interpret-as").value_or("");
            frame.spelled = trimmed(kind) == "characters" || trimmed(kind) == "spell-out" ||
                            trimmed(kind) == "digits";
            frame.sayAs = true;
            frame.content = Content::Collected;
            collected_.clear();
        } else if (name == "voice") {
            if (const auto voiceName = attribute(tag, "name");
                voiceName && !trimmed(*voiceName).empty())
                frame.voicing.voiceName = trimmed(*voiceName);
        } else if (name == "mark") {
            const auto markName = attribute(tag, "name");
            if (!markName || markName->empty())
                fail(tag.place, "<mark> has no name");
            builder_.addMark(*markName);
            frame.content = Content::Skipped;
        } else if (warned_.insert(tag.qualifiedName).second) {
            warnings_.push_back(where(tag.place) + ": unknown element " + tagOf(tag) +
                                " is read as its text");
        }
        return frame;
    }

    void end() {
        if (frames_.empty())
            return;
        const Frame frame = std::move(frames_.back());
        frames_.pop_back();
        if (frame.boundary)
            builder_.addBoundary(*frame.boundary);
        if (frame.sayAs) {
            builder_.addText(frame.spelled ? spacedCharacters(collected_) : collected_,
                             frame.voicing.voiceName, frame.voicing.prosody);
            collected_.clear();
        }
        checkSize(here());
    }

    void text(std::string_view text) {
        if (frames_.empty())
            return;
        const Frame& frame = frames_.back();
        if (frame.content == Content::Read)
            builder_.addText(text, frame.voicing.voiceName, frame.voicing.prosody);
        else if (frame.content == Content::Collected)
            collected_.append(text);
    }

    // The breaks' silence is held to a total: every frame of it is written out.
    int countedSilence(const StartTag& tag, std::int64_t milliseconds) {
        silenceMilliseconds_ += milliseconds;
        if (silenceMilliseconds_ > ssmlMaxSilenceMilliseconds)
            fail(tag.place, "the breaks add up to more than " +
                                std::to_string(ssmlMaxSilenceMilliseconds / 3'600'000) +
                                " hours of silence");
        return static_cast<int>(milliseconds);
    }

    int pauseOf(const StartTag& tag) {
        if (const auto time = attribute(tag, "time")) {
            const auto quantity = quantityOf(*time);
            if (!quantity || quantity->signedChange)
                failValue(tag, "time", *time);
            double milliseconds = 0;
            if (equalsIgnoringCase(quantity->unit, "ms"))
                milliseconds = quantity->value;
            else if (equalsIgnoringCase(quantity->unit, "s"))
                milliseconds = quantity->value * 1000.0;
            else
                failValue(tag, "time", *time);
            if (milliseconds > longestPauseMilliseconds)
                fail(tag.place, "break time " + quotedValue(*time) + " is longer than an hour");
            return countedSilence(tag, std::lround(milliseconds));
        }
        const std::string strength = attribute(tag, "strength").value_or("medium");
        for (const NamedPause& pause : pauseStrengths)
            if (pause.strength == trimmed(strength))
                return countedSilence(tag, pause.milliseconds);
        failValue(tag, "strength", strength);
    }

    static Voicing prosodyOf(const StartTag& tag, Voicing voicing) {
        Prosody& prosody = voicing.prosody;
        const auto apply = [&](const char* name, double& value, auto parse) {
            if (const auto text = attribute(tag, name)) {
                const auto changed = parse(*text, value);
                if (!changed)
                    failValue(tag, name, *text);
                value = *changed;
            }
        };
        apply("rate", prosody.rate, rateOf);
        apply("pitch", prosody.pitch, pitchOf);
        apply("volume", prosody.volume, volumeOf);
        prosody = clamped(prosody);
        return voicing;
    }

    static Voicing emphasisOf(const StartTag& tag, Voicing voicing) {
        const std::string level = attribute(tag, "level").value_or("moderate");
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
        failValue(tag, "level", level);
    }

    std::string sourceName_;
    SsmlWarning warn_;
    ParserContextOwner context_;
    std::string firstFault_; // "LINE:COLUMN: reason"
    std::size_t bytesRead_ = 0;
    bool anyContent_ = false;
    bool rootSeen_ = false;
    std::vector<Frame> frames_;
    std::string collected_; // the text of the <say-as> open
    SpeechScriptBuilder builder_;
    std::set<std::string> warned_;
    std::vector<std::string> warnings_;
    std::int64_t silenceMilliseconds_ = 0;
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
