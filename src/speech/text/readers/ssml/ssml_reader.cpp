#include "speech/text/readers/ssml/ssml_reader.h"

#include "speech/base/warning_tally.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/readers/ssml/ssml_values.h"
#include "speech/text/readers/ssml/ssml_xml_parser.h"
#include "speech/text/script/speech_script_builder.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace kestrova::speech {

using namespace ssml;

namespace {

struct Voicing {
    std::string voiceName;
    Prosody prosody;
    std::string language; // xml:lang in effect, unless a named voice was chosen inside it
};

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
        if (warn_) {
            // A few, then their number: a document may hold thousands of unknown elements.
            WarningTally told(warn_);
            for (const std::string& warning : warnings_)
                told.tell(warning);
            told.tellUntold(sourceName_ + ": ", "unknown elements are read as their text");
        }
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
        return {.line = context_->input->line, .column = std::max(context_->input->col, 1)};
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
    // Appended piece by piece: GCC 12 at -O3 takes "<" + string&& for an overlapping copy
    // (a false -Wrestrict).
    static std::string tagOf(const StartTag& tag) {
        std::string shown = "<";
        shown += cutInTheMiddle(tag.qualifiedName);
        shown += '>';
        return shown;
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
            frames_.back().voicing.language = languageOf(tag, Voicing{}).language;
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
            frame.voicing = languageOf(tag, voicing);
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
            builder_.addText(*alias, voicing.voiceName, voicing.prosody, voicing.language);
            frame.content = Content::Skipped;
        } else if (name == "say-as") {
            const std::string kind = attribute(tag, "interpret-as").value_or("");
            frame.spelled = trimmed(kind) == "characters" || trimmed(kind) == "spell-out" ||
                            trimmed(kind) == "digits";
            frame.sayAs = true;
            frame.content = Content::Collected;
            collected_.clear();
        } else if (name == "voice") {
            frame.voicing = voiceOf(tag, voicing);
        } else if (name == "lang") {
            frame.voicing = languageOf(tag, voicing);
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
                             frame.voicing.voiceName, frame.voicing.prosody,
                             frame.voicing.language);
            collected_.clear();
        }
        checkSize(here());
    }

    void text(std::string_view text) {
        if (frames_.empty())
            return;
        const Frame& frame = frames_.back();
        if (frame.content == Content::Read)
            builder_.addText(text, frame.voicing.voiceName, frame.voicing.prosody,
                             frame.voicing.language);
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
            const auto milliseconds = breakTimeMilliseconds(*time);
            if (!milliseconds)
                failValue(tag, "time", *time);
            if (*milliseconds > longestPauseMilliseconds)
                fail(tag.place, "break time " + quotedValue(*time) + " is longer than an hour");
            return countedSilence(tag, std::lround(*milliseconds));
        }
        const std::string strength = attribute(tag, "strength").value_or("medium");
        if (const auto milliseconds = namedPauseMilliseconds(trimmed(strength)))
            return countedSilence(tag, *milliseconds);
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

    // xml:lang: the content is in that language (an empty value: in none known).
    static Voicing languageOf(const StartTag& tag, Voicing voicing) {
        if (const auto language = xmlLanguage(tag))
            voicing.language = trimmed(*language);
        return voicing;
    }

    // A voice named is the one read, whatever language the markup around it gives; a <voice>
    // with a language and no name asks for a voice of that language.
    static Voicing voiceOf(const StartTag& tag, Voicing voicing) {
        if (const auto voiceName = attribute(tag, "name");
            voiceName && !trimmed(*voiceName).empty()) {
            voicing.voiceName = trimmed(*voiceName);
            voicing.language.clear();
            return voicing;
        }
        return languageOf(tag, voicing);
    }

    static Voicing emphasisOf(const StartTag& tag, Voicing voicing) {
        const std::string level = attribute(tag, "level").value_or("moderate");
        const auto change = emphasisChange(trimmed(level));
        if (!change)
            failValue(tag, "level", level);
        Prosody& prosody = voicing.prosody;
        prosody.rate *= change->rate;
        prosody.pitch *= change->pitch;
        prosody.volume *= change->volume;
        prosody = clamped(prosody);
        return voicing;
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
