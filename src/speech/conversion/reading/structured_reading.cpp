#include "speech/conversion/reading/structured_reading.h"

#include "speech/base/language_tag.h"
#include "speech/base/utf8.h"
#include "speech/conversion/request_rules.h"
#include "speech/quoted_name.h"

#include <algorithm>
#include <utility>

namespace kestrova::speech {

StructuredReading::StructuredReading(const ConversionRequest& request, const Voice& documentVoice,
                                     std::string documentLanguage, const VoiceRegistry* registry,
                                     std::function<void(const std::string&)> warning, Speak speak)
    : request_(request), documentVoice_(documentVoice),
      documentLanguage_(std::move(documentLanguage)), registry_(registry),
      unspokenTold_(std::move(warning)), speak_(std::move(speak)) {}

void StructuredReading::tellUntold() {
    unspokenTold_.tellUntold(quotedName(request_.input.path.native()) + ": ",
                             "languages that no voice speaks are read by " +
                                 documentVoice_.displayName);
}

void StructuredReading::chapter(std::string title) {
    ++chapterNumber_;
    chapterTitle_ = std::move(title);
}

void StructuredReading::block(DocumentBlock block) {
    // Runs of one voice go together; a change of voice begins another group.
    std::vector<RunGroup> groups;
    for (const DocumentRun& run : block.runs) {
        if (run.text.empty())
            continue;
        const Voice& voice = voiceFor(run.language);
        if (groups.empty() || groups.back().voice != &voice)
            groups.push_back({.voice = &voice, .text = {}, .runs = {}});
        groups.back().runs.emplace_back(groups.back().text.size(), &run);
        groups.back().text += run.text;
    }
    const std::string source = block.source.empty() ? request_.input.path.string() : block.source;
    bool beginsBlock = true;
    for (const RunGroup& group : groups)
        readGroup(group, source, beginsBlock);
}

// The document's own voice for its own language and any its voice speaks, else a voice of the run's
// language, found once for each language; none speaking it: the document's voice, with a word once.
const Voice& StructuredReading::voiceFor(const std::string& language) {
    if (language.empty() || sameLanguage(language, documentLanguage_) ||
        speaksLanguage(documentVoice_, language))
        return documentVoice_;
    auto found = voicesByLanguage_.find(language);
    if (found == voicesByLanguage_.end()) {
        if (!registry_) {
            discovered_ = std::make_unique<VoiceRegistry>();
            registry_ = discovered_.get();
        }
        found = voicesByLanguage_.emplace(language, registry_->voiceForLanguage(language)).first;
        if (!found->second && unspokenTold_.listened())
            unspokenTold_.tell("no voice speaks the language " + quotedValue(language) + " of " +
                               quotedName(request_.input.path.native()) + ": " +
                               documentVoice_.displayName + " reads it");
    }
    return found->second ? *found->second : documentVoice_;
}

void StructuredReading::readGroup(const RunGroup& group, const std::string& source,
                                  bool& beginsBlock) {
    TextChunker chunker = chunkerFor(true, *group.voice);
    chunker.push(group.text);
    chunker.finish();
    const bool selected = request_.chapters.selection.contains(chapterNumber_);
    const std::uint64_t before = characters_;
    while (std::optional<TextChunk> chunk = chunker.next()) {
        if (beginsBlock)
            chunk->before = Boundary::Paragraph;
        // Counted whether spoken or not: the numbers are the book's.
        const unsigned paragraph = paragraphs_.next(chunk->before == Boundary::Paragraph);
        beginsBlock = false;
        readAny_ = true;
        if (!selected)
            continue;
        const std::uint64_t endCharacter = before + chunk->endCharacter;
        speak_({.chunk = {.text = std::move(chunk->text),
                          .endCharacter = endCharacter,
                          .before = chunk->before,
                          .startByte = chunk->startByte,
                          .endByte = chunk->endByte},
                .voice = group.voice,
                .chapter = chapterNumber_,
                .chapterTitle = chapterTitle_,
                .paragraph = paragraph,
                .startByte = sourceByte(group, chunk->startByte, false),
                .endByte = sourceByte(group, chunk->endByte, true),
                .source = source});
    }
    if (selected)
        characters_ += characterCount(group.text);
}

// Where a byte of the group's text stands in its source: for an end, one past the byte before
// it. None where the run has no place.
std::optional<std::uint64_t> StructuredReading::sourceByte(const RunGroup& group, std::size_t at,
                                                           bool end) {
    const std::size_t byte = end && at > 0 ? at - 1 : at;
    auto run =
        std::upper_bound(group.runs.begin(), group.runs.end(), byte,
                         [](std::size_t value, const auto& entry) { return value < entry.first; });
    if (run == group.runs.begin())
        return std::nullopt;
    --run;
    const auto& places = run->second->sourceBytes;
    const std::size_t inRun = byte - run->first;
    auto place =
        std::upper_bound(places.begin(), places.end(), inRun,
                         [](std::size_t value, const auto& entry) { return value < entry.first; });
    if (place == places.begin())
        return std::nullopt;
    --place;
    return place->second + (inRun - place->first) + (end && at > 0 ? 1 : 0);
}

std::unique_ptr<StructuredDocument> openDocument(const ConversionRequest& request,
                                                 std::function<void(const std::string&)> warning,
                                                 const std::atomic<bool>* cancel, int openFile) {
    const DocumentOptions options{.readAlt = request.input.documentChoices.readAlt,
                                  .readNotes = request.input.documentChoices.readNotes,
                                  .readCode = request.input.documentChoices.readCode,
                                  .warning = std::move(warning),
                                  .cancel = cancel,
                                  .openFile = openFile};
    return inputKindRow(request.input.kind).open(request.input.path, options);
}

} // namespace kestrova::speech
