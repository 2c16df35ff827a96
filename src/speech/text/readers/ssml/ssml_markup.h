#pragma once

#include "speech/text/readers/ssml/ssml_xml_parser.h"
#include "speech/text/script/speech_script_builder.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech::ssml {

// A fault of the markup found while reading it: "LINE:COLUMN: reason".
struct MarkupFault {
    std::string placeAndReason;
};

// What SSML's elements make of their content, element by element as the parser hands them
// over, without a tree: what is kept is the script so far and one frame for each element
// open. A fault throws MarkupFault.
class SsmlMarkup {
public:
    explicit SsmlMarkup(std::string sourceName) : sourceName_(std::move(sourceName)) {}

    void start(const StartTag& tag);
    // here: where the parser stands, for a limit the element's end passes.
    void end(const Place& here);
    void text(std::string_view text);

    bool rootSeen() const { return rootSeen_; }
    // "FILE:LINE:COLUMN: unknown element <x> is read as its text", once for each name.
    const std::vector<std::string>& warnings() const { return warnings_; }
    SpeechScript finish() { return builder_.finish(); }

    struct Voicing {
        std::string voiceName;
        Prosody prosody;
        std::string language; // xml:lang in effect, unless a named voice was chosen inside it
    };

private:
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

    void checkSize(const Place& place) const;
    Frame frameOf(const StartTag& tag, const Voicing& voicing);
    int countedSilence(const StartTag& tag, std::int64_t milliseconds);
    int pauseOf(const StartTag& tag);
    std::string where(const Place& place) const;

    std::string sourceName_;
    bool rootSeen_ = false;
    std::vector<Frame> frames_;
    std::string collected_; // the text of the <say-as> open
    SpeechScriptBuilder builder_;
    std::set<std::string> warned_;
    std::vector<std::string> warnings_;
    std::int64_t silenceMilliseconds_ = 0;
};

} // namespace kestrova::speech::ssml
