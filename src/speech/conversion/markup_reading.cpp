#include "speech/conversion/markup_reading.h"

#include "speech/base/utf8.h"
#include "speech/conversion/paragraph_counter.h"
#include "speech/conversion/request_rules.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/render/chunk_sequence.h"
#include "speech/speech_error.h"
#include "speech/text/lexicon.h"
#include "speech/text/ssml_reader.h"
#include "speech/text/text_chunker.h"
#include "speech/text/text_file_reader.h"
#include "speech/text/text_measures.h"

#include <algorithm>
#include <optional>
#include <variant>

namespace kestrova::speech {
namespace {} // namespace

Markup readMarkup(TextFileReader& reader, const ConversionRequest& request,
                  const Lexicon& lexicon) {
    Markup markup;
    try {
        // The file's own bytes as they are read: the XML parser decodes them, once, as the
        // document declares (its start, in the first piece, says how).
        // FILE:LINE:COLUMN as compilers write it; a name that could break the line is quoted.
        const std::string& name = request.input.native();
        const std::string sourceName = isPlainName(name) ? name : quotedName(name);
        std::optional<SsmlReader> ssml;
        std::string piece;
        std::uint64_t bytes = 0;
        while (reader.readUndecoded(piece)) {
            if ((bytes += piece.size()) > ssmlMaxBytes)
                throw FileError(inputFailure("read", request.input,
                                             "an SSML document may be at most " +
                                                 std::to_string(ssmlMaxBytes >> 20) + " MiB"));
            if (!ssml)
                ssml.emplace(sourceName, request.warning,
                             request.encoding != TextEncoding::Automatic
                                 ? request.encoding
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
    std::optional<VoiceRegistry> discovered;
    for (SpeechItem& item : markup.script) {
        auto* run = std::get_if<SpeechRun>(&item);
        if (run == nullptr)
            continue;
        if (!lexicon.empty())
            run->text = lexicon.apply(run->text);
        markup.characters += characterCount(run->text);
        if (run->voiceName.empty() || markup.voices.contains(run->voiceName))
            continue;
        if (!request.voices && !discovered)
            discovered.emplace();
        const VoiceRegistry& registry = request.voices ? *request.voices : *discovered;
        markup.voices.emplace(run->voiceName, registry.find(run->voiceName));
    }
    return markup;
}

void sequenceMarkup(const Markup& markup, const ConversionRequest& request, ChunkSequence& sequence,
                    SpeechTimings* timings) {
    const Prosody asked = askedProsody(request.controls);
    std::uint64_t spoken = 0;
    ParagraphCounter paragraphs;
    bool paragraphEnded = false;
    for (const SpeechItem& item : markup.script) {
        if (const auto* run = std::get_if<SpeechRun>(&item)) {
            const Voice& voice =
                run->voiceName.empty() ? request.voice : markup.voices.at(run->voiceName);
            TextChunker chunker = chunkerFor(timings != nullptr, voice);
            chunker.push(run->text);
            chunker.finish();
            while (auto chunk = chunker.next()) {
                RenderTask task;
                if (timings) {
                    task.sentence = timings->sentences.size();
                    SentenceTiming& timing = timings->sentences.emplace_back();
                    timing.text = chunk->text;
                    timing.paragraph =
                        paragraphs.next(paragraphEnded || chunk->before == Boundary::Paragraph);
                    paragraphEnded = false;
                }
                task.text = std::move(chunk->text);
                task.voice = voice;
                task.prosody = combined(asked, run->prosody);
                task.endCharacter = spoken + chunk->endCharacter;
                sequence.addChunk(std::move(task), chunk->before);
            }
            spoken += characterCount(run->text);
        } else if (const auto* pause = std::get_if<SpeechBreak>(&item)) {
            if (pause->kind == SpeechBreak::Kind::Explicit)
                sequence.addBreak(pause->milliseconds);
            else
                sequence.addBoundary(pause->kind == SpeechBreak::Kind::Paragraph
                                         ? Boundary::Paragraph
                                         : Boundary::Sentence);
            paragraphEnded = paragraphEnded || pause->kind == SpeechBreak::Kind::Paragraph;
        } else {
            sequence.addMark(std::get<SpeechMark>(item).name);
        }
    }
}

} // namespace kestrova::speech
