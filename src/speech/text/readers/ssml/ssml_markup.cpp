#include "speech/text/readers/ssml/ssml_markup.h"

#include "speech/quoted_name.h"
#include "speech/text/readers/ssml/ssml_reader.h"
#include "speech/text/readers/ssml/ssml_values.h"
#include "speech/text/readers/xml/xml_text.h"

#include <cmath>

namespace kestrova::speech::ssml {

namespace {

using Voicing = SsmlMarkup::Voicing;

[[noreturn]] void fail(const Place& place, const std::string& reason) {
    throw MarkupFault{xml::placeOf(place.line, place.column) + ": " + reason};
}

// An element's name as messages show it; XML names are printable, but may be long.
// Appended piece by piece: GCC 12 at -O3 takes "<" + string&& for an overlapping copy
// (a false -Wrestrict).
std::string tagOf(const StartTag& tag) {
    std::string shown = "<";
    shown += cutInTheMiddle(tag.qualifiedName);
    shown += '>';
    return shown;
}

[[noreturn]] void failValue(const StartTag& tag, const char* name, const std::string& value) {
    fail(tag.place,
         "malformed " + std::string(name) + " " + quotedValue(value) + " of " + tagOf(tag));
}

Voicing prosodyOf(const StartTag& tag, Voicing voicing) {
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
Voicing languageOf(const StartTag& tag, Voicing voicing) {
    if (const auto language = xmlLanguage(tag))
        voicing.language = trimmed(*language);
    return voicing;
}

// A voice named is the one read, whatever language the markup around it gives; a <voice>
// with a language and no name asks for a voice of that language.
Voicing voiceOf(const StartTag& tag, Voicing voicing) {
    if (const auto voiceName = attribute(tag, "name"); voiceName && !trimmed(*voiceName).empty()) {
        voicing.voiceName = trimmed(*voiceName);
        voicing.language.clear();
        return voicing;
    }
    return languageOf(tag, voicing);
}

Voicing emphasisOf(const StartTag& tag, Voicing voicing) {
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

} // namespace

void SsmlMarkup::start(const StartTag& tag) {
    if (frames_.size() + 1 > static_cast<std::size_t>(ssmlMaxDepth))
        fail(tag.place, xml::nestedDeeperThan(ssmlMaxDepth));
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

void SsmlMarkup::checkSize(const Place& place) const {
    if (builder_.size() > ssmlMaxItems)
        fail(place, "the markup makes more than " + std::to_string(ssmlMaxItems) +
                        " runs, breaks and marks");
}

// What an element inside read content does, and the frame its content is read in.
SsmlMarkup::Frame SsmlMarkup::frameOf(const StartTag& tag, const Voicing& voicing) {
    Frame frame{.content = Content::Read,
                .voicing = voicing,
                .boundary = std::nullopt,
                .sayAs = false,
                .spelled = false};
    const std::string_view name = tag.ssml ? tag.localName : std::string_view{};
    if (name == "speak") {
    } else if (name == "p" || name == "s") {
        frame.boundary = name == "p" ? SpeechBreak::Kind::Paragraph : SpeechBreak::Kind::Sentence;
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

void SsmlMarkup::end(const Place& here) {
    if (frames_.empty())
        return;
    const Frame frame = std::move(frames_.back());
    frames_.pop_back();
    if (frame.boundary)
        builder_.addBoundary(*frame.boundary);
    if (frame.sayAs) {
        builder_.addText(frame.spelled ? spacedCharacters(collected_) : collected_,
                         frame.voicing.voiceName, frame.voicing.prosody, frame.voicing.language);
        collected_.clear();
    }
    checkSize(here);
}

void SsmlMarkup::text(std::string_view text) {
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
int SsmlMarkup::countedSilence(const StartTag& tag, std::int64_t milliseconds) {
    silenceMilliseconds_ += milliseconds;
    if (silenceMilliseconds_ > ssmlMaxSilenceMilliseconds)
        fail(tag.place, "the breaks add up to more than " +
                            std::to_string(ssmlMaxSilenceMilliseconds / 3'600'000) +
                            " hours of silence");
    return static_cast<int>(milliseconds);
}

int SsmlMarkup::pauseOf(const StartTag& tag) {
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

std::string SsmlMarkup::where(const Place& place) const {
    return sourceName_ + ":" + xml::placeOf(place.line, place.column);
}

} // namespace kestrova::speech::ssml
