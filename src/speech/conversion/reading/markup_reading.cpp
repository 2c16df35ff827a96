#include "speech/conversion/reading/markup_reading.h"

#include "speech/base/utf8.h"
#include "speech/base/warning_tally.h"
#include "speech/conversion/reading/paragraph_counter.h"
#include "speech/conversion/request_rules.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/render/chunk_sequence.h"
#include "speech/speech_error.h"
#include "speech/text/lexicon/lexicon.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "speech/text/readers/ssml/ssml_reader.h"
#include "speech/text/script/text_chunker.h"
#include "speech/text/script/text_measures.h"
#include "speech/text/script/unicode_breaks.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <variant>

namespace kestrova::speech {
namespace {

// The voices of a document's runs: the names it gives and the languages it tags text with,
// looked up in the request's registry, else in one discovered when first needed.
class MarkupVoices {
public:
    MarkupVoices(const ConversionRequest& request, std::string sourceName, Markup& markup)
        : request_(request), sourceName_(std::move(sourceName)), markup_(markup),
          unspokenTold_(request.callbacks.warning) {}

    // Once every run is resolved: how many more languages no voice speaks than were told of.
    void tellUntold() {
        unspokenTold_.tellUntold(sourceName_ + ": ",
                                 "languages that no eSpeak NG voice speaks are read by the voice "
                                 "in effect there");
    }

    void resolve(SpeechRun& run) {
        if (!run.voiceName.empty() && !markup_.voices.contains(run.voiceName))
            markup_.voices.emplace(run.voiceName, registry().find(run.voiceName));
        if (!run.language.empty())
            chooseForLanguage(run);
    }

private:
    const VoiceRegistry& registry() {
        if (!request_.speech.voices && !discovered_)
            discovered_.emplace();
        return request_.speech.voices ? *request_.speech.voices : *discovered_;
    }

    // Text in a language the voice in effect does not speak goes to an eSpeak NG voice of that
    // language. Decided once for each voice and language: a document may hold a million runs.
    void chooseForLanguage(SpeechRun& run) {
        const Voice& inEffect =
            run.voiceName.empty() ? request_.speech.voice : markup_.voices.at(run.voiceName);
        const std::string key = inEffect.displayName + '\n' + run.language;
        auto known = choices_.find(key);
        if (known == choices_.end())
            known = choices_.emplace(key, choiceFor(inEffect, run.language)).first;
        if (known->second)
            run.voiceName = *known->second;
    }

    // The name of the voice that reads the language instead of the one in effect; none: the
    // one in effect reads it, and where no voice speaks the language the user is told once.
    std::optional<std::string> choiceFor(const Voice& inEffect, const std::string& language) {
        if (speaksLanguage(inEffect, language))
            return std::nullopt;
        const auto chosen = registry().voiceForLanguage(language);
        if (!chosen) {
            if (unspokenTold_.listened() && unspoken_.insert(language).second)
                unspokenTold_.tell(sourceName_ + ": no eSpeak NG voice speaks the language " +
                                   quotedValue(language) + " (xml:lang); " + inEffect.displayName +
                                   " reads it");
            return std::nullopt;
        }
        markup_.voices.try_emplace(chosen->displayName, *chosen);
        return chosen->displayName;
    }

    const ConversionRequest& request_;
    const std::string sourceName_;
    Markup& markup_;
    std::optional<VoiceRegistry> discovered_;
    std::map<std::string, std::optional<std::string>> choices_; // by voice and language
    std::set<std::string> unspoken_;
    // Told of once each, and past a few only counted: a document may tag runs with thousands.
    WarningTally unspokenTold_;
};

// Whether text ends a sentence: its last mark, past closing quotes and brackets, is one the
// chunker ends sentences at.
bool endsSentence(std::string_view text) {
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && isContinuationByte(text[start]))
            --start;
        const int last = codePointAt(text.substr(start)).value;
        if (last == '.' || last == '!' || last == '?' || last == ';' || last == ':' ||
            isSentenceTerminal(last))
            return true;
        if (!isSentenceCloser(last) && last != '"' && last != '\'' && last != ')' && last != ']')
            return false;
        text.remove_suffix(text.size() - start);
    }
    return false;
}

// The sentences of markup's timings. Markup inside a sentence (emphasis, prosody, a voice, a
// language, a break, a mark) cuts its text into runs, each rendered on its own, but does not
// end it: a sentence ends where its text says so, and at a sentence or paragraph end of the
// markup. The chunks of one sentence share its entry: its text is theirs joined, its sound
// from the first one's to the last one's.
class MarkupSentences {
public:
    explicit MarkupSentences(SpeechTimings& timings) : timings_(timings) {}

    std::size_t add(const TextChunk& chunk, bool firstOfRun, bool spaceBefore) {
        if (open_ && chunk.before == Boundary::None) {
            std::string& text = timings_.sentences[*open_].text;
            if (!firstOfRun || spaceBefore)
                text.push_back(' ');
            text += chunk.text;
            return *open_;
        }
        open_ = timings_.sentences.size();
        SentenceTiming& timing = timings_.sentences.emplace_back();
        timing.text = chunk.text;
        timing.paragraph = paragraphs_.next(paragraphEnded_ || chunk.before == Boundary::Paragraph);
        paragraphEnded_ = false;
        return *open_;
    }

    void end(bool paragraph) {
        open_.reset();
        paragraphEnded_ = paragraphEnded_ || paragraph;
    }

private:
    SpeechTimings& timings_;
    ParagraphCounter paragraphs_;
    bool paragraphEnded_ = false;
    std::optional<std::size_t> open_; // the sentence the next chunk may continue
};

} // namespace

Markup readMarkup(TextFileReader& reader, const ConversionRequest& request,
                  const Lexicon& lexicon) {
    Markup markup;
    // FILE:LINE:COLUMN as compilers write it; a name that could break the line is quoted.
    const std::string& name = request.input.path.native();
    const std::string sourceName = isPlainName(name) ? name : quotedName(name);
    try {
        // The file's own bytes as they are read: the XML parser decodes them, once, as the
        // document declares (its start, in the first piece, says how).
        std::optional<SsmlReader> ssml;
        std::string piece;
        std::uint64_t bytes = 0;
        while (reader.readUndecoded(piece)) {
            if ((bytes += piece.size()) > ssmlMaxBytes)
                throw FileError(inputFailure("read", request.input.path,
                                             "an SSML document may be at most " +
                                                 std::to_string(ssmlMaxBytes >> 20) + " MiB"));
            if (!ssml)
                ssml.emplace(sourceName, request.callbacks.warning,
                             request.input.encoding != TextEncoding::Automatic
                                 ? request.input.encoding
                                 : ssmlEncoding(piece, reader.encoding()));
            ssml->push(piece);
        }
        if (!ssml)
            ssml.emplace(sourceName);
        markup.script = ssml->finish();
    } catch (const FileError&) {
        throw;
    } catch (const SpeechError& failure) {
        throw FileError(failure.what()); // it names the file, line and column already
    }
    MarkupVoices voices(request, sourceName, markup);
    for (SpeechItem& item : markup.script) {
        auto* run = std::get_if<SpeechRun>(&item);
        if (run == nullptr)
            continue;
        if (!lexicon.empty())
            run->text = lexicon.apply(run->text);
        markup.characters += characterCount(run->text);
        voices.resolve(*run);
    }
    voices.tellUntold();
    return markup;
}

void sequenceMarkup(const Markup& markup, const ConversionRequest& request, ChunkSequence& sequence,
                    SpeechTimings* timings) {
    const Prosody asked = askedProsody(request.speech.controls);
    std::uint64_t spoken = 0;
    std::optional<MarkupSentences> sentences;
    if (timings)
        sentences.emplace(*timings);
    for (const SpeechItem& item : markup.script) {
        if (const auto* run = std::get_if<SpeechRun>(&item)) {
            const Voice& voice =
                run->voiceName.empty() ? request.speech.voice : markup.voices.at(run->voiceName);
            TextChunker chunker = chunkerFor(timings != nullptr, voice);
            chunker.push(run->text);
            chunker.finish();
            for (bool first = true; auto chunk = chunker.next(); first = false) {
                RenderTask task;
                if (sentences)
                    task.sentence = sentences->add(*chunk, first, run->spaceBefore);
                task.text = std::move(chunk->text);
                task.voice = voice;
                task.prosody = combined(asked, run->prosody);
                task.endCharacter = spoken + chunk->endCharacter;
                sequence.addChunk(std::move(task), chunk->before);
            }
            spoken += characterCount(run->text);
            if (sentences && endsSentence(run->text))
                sentences->end(false);
        } else if (const auto* pause = std::get_if<SpeechBreak>(&item)) {
            if (pause->kind == SpeechBreak::Kind::Explicit)
                sequence.addBreak(pause->milliseconds);
            else
                sequence.addBoundary(pause->kind == SpeechBreak::Kind::Paragraph
                                         ? Boundary::Paragraph
                                         : Boundary::Sentence);
            const auto ended = pause->kind == SpeechBreak::Kind::Explicit
                                   ? pause->ends
                                   : std::optional(pause->kind);
            if (sentences && ended)
                sentences->end(*ended == SpeechBreak::Kind::Paragraph);
        } else {
            sequence.addMark(std::get<SpeechMark>(item).name);
        }
    }
}

} // namespace kestrova::speech
