#include "speech/conversion/reading/structured_reading.h"

#include "speech/base/language_tag.h"
#include "speech/base/utf8.h"
#include "speech/conversion/reading/dialogue_voices.h"
#include "speech/conversion/request_rules.h"
#include "speech/quoted_name.h"

#include <algorithm>
#include <utility>

namespace kestrova::speech {

StructuredReading::StructuredReading(const ConversionRequest& request, const Voice& documentVoice,
                                     std::string documentLanguage, const VoiceRegistry* registry,
                                     std::function<void(const std::string&)> warning, Speak speak)
    : request_(request), documentVoice_(&documentVoice),
      documentLanguage_(std::move(documentLanguage)), registry_(registry),
      unspokenTold_(std::move(warning)), speak_(std::move(speak)) {}

void StructuredReading::finish() {
    if (unsettled_)
        settle();
    unspokenTold_.tellUntold(quotedName(request_.input.path.native()) + ": ",
                             "languages that no voice speaks are read by " +
                                 documentVoice_->displayName);
}

void StructuredReading::settleVoiceByScript(SettleVoice settle, std::size_t letters) {
    unsettled_.emplace(
        Unsettled{.settle = std::move(settle), .letters = letters, .tally = {}, .held = {}});
}

// The voice named by the letters counted, and what waited for it read in its order.
void StructuredReading::settle() {
    Unsettled unsettled = std::move(*unsettled_);
    unsettled_.reset();
    if (const Voice* voice = unsettled.settle(unsettled.tally))
        documentVoice_ = voice;
    for (auto& held : unsettled.held) {
        if (std::string* title = std::get_if<std::string>(&held))
            readChapter(std::move(*title));
        else
            readBlock(std::move(std::get<DocumentBlock>(held)));
    }
}

void StructuredReading::chapter(std::string title) {
    if (unsettled_)
        unsettled_->held.emplace_back(std::move(title));
    else
        readChapter(std::move(title));
}

void StructuredReading::block(DocumentBlock block) {
    if (!unsettled_) {
        readBlock(std::move(block));
        return;
    }
    for (const DocumentRun& run : block.runs)
        unsettled_->tally.add(run.text);
    unsettled_->held.emplace_back(std::move(block));
    if (unsettled_->tally.letters() >= unsettled_->letters)
        settle();
}

void StructuredReading::readChapter(std::string title) {
    ++chapterNumber_;
    chapterTitle_ = std::move(title);
}

void StructuredReading::readBlock(DocumentBlock block) {
    BlockRuns runs;
    for (const DocumentRun& run : block.runs) {
        if (run.text.empty())
            continue;
        const Voice& voice = voiceFor(run.language);
        if (runs.voices.empty() || runs.voices.back().voice != &voice)
            runs.voices.push_back({.at = runs.text.size(), .voice = &voice});
        runs.runs.emplace_back(runs.text.size(), &run);
        runs.text += run.text;
    }
    if (runs.voices.empty())
        return;
    readBlock(runs, block.source.empty() ? request_.input.path.string() : block.source, block.page);
}

// The document's own voice for its own language and any its voice speaks, else a voice of the run's
// language, found once for each language; none speaking it: the document's voice, with a word once.
const Voice& StructuredReading::voiceFor(const std::string& language) {
    if (language.empty() || sameLanguage(language, documentLanguage_) ||
        speaksLanguage(*documentVoice_, language))
        return *documentVoice_;
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
                               documentVoice_->displayName + " reads it");
    }
    return found->second ? *found->second : *documentVoice_;
}

// The voice that reads the most of the block's text: its language's conventions end the
// block's sentences.
const Voice& StructuredReading::mainVoice(const BlockRuns& block) {
    if (block.voices.size() == 1)
        return *block.voices.front().voice;
    std::map<const Voice*, std::size_t> bytes;
    for (std::size_t i = 0; i < block.voices.size(); ++i) {
        const std::size_t end =
            i + 1 < block.voices.size() ? block.voices[i + 1].at : block.text.size();
        bytes[block.voices[i].voice] += end - block.voices[i].at;
    }
    // The first voice of the block wins a tie, whatever the voices' order in memory.
    const Voice* most = block.voices.front().voice;
    for (const VoiceStart& voice : block.voices)
        if (bytes[voice.voice] > bytes[most])
            most = voice.voice;
    return *most;
}

void StructuredReading::readBlock(const BlockRuns& block, const std::string& source,
                                  const std::string& page) {
    TextChunker chunker = chunkerFor(true, mainVoice(block));
    chunker.push(block.text);
    chunker.finish();
    const bool selected = request_.chapters.selection.contains(chapterNumber_);
    const std::uint64_t before = characters_;
    const std::vector<VoiceStart> voicesRead = blockVoicesRead(block);
    bool beginsBlock = true;
    while (std::optional<TextChunk> chunk = chunker.next()) {
        if (beginsBlock)
            chunk->before = Boundary::Paragraph;
        // Counted whether spoken or not: the numbers are the book's.
        const unsigned paragraph = paragraphs_.next(chunk->before == Boundary::Paragraph);
        beginsBlock = false;
        readAny_ = true;
        if (!selected)
            continue;
        std::vector<VoiceStart> voices = sentenceVoices(block.text, voicesRead, *chunk);
        const Voice* voice = voices.front().voice;
        voices.erase(voices.begin());
        const std::uint64_t endCharacter = before + chunk->endCharacter;
        const std::optional<std::uint64_t> startByte = sourceByte(block, chunk->startByte, false);
        const std::optional<std::uint64_t> endByte = sourceByte(block, chunk->endByte, true);
        speak_({.chunk = {.text = std::move(chunk->text),
                          .endCharacter = endCharacter,
                          .before = chunk->before,
                          .startByte = chunk->startByte,
                          .endByte = chunk->endByte},
                .voice = voice,
                .voiceChanges = std::move(voices),
                .chapter = chapterNumber_,
                .chapterTitle = chapterTitle_,
                .paragraph = paragraph,
                .startByte = startByte,
                .endByte = endByte,
                .source = source,
                .page = page});
    }
    if (selected)
        characters_ += characterCount(block.text);
}

// The block's voices with its quoted speech given to the dialogue voice, when there is one: a
// block is a paragraph, and a quotation that runs on opens the next one again.
std::vector<VoiceStart> StructuredReading::blockVoicesRead(const BlockRuns& block) const {
    const std::optional<Voice>& dialogue = request_.speech.dialogueVoice;
    if (!dialogue)
        return block.voices;
    const std::string& language =
        documentLanguage_.empty() ? documentVoice_->language : documentLanguage_;
    return withDialogueVoice(block.voices, dialogueSpans(block.text, language), block.text.size(),
                             *dialogue);
}

// Where a byte of the block's text stands in its source: for an end, one past the byte before
// it. None where the run has no place.
std::optional<std::uint64_t> StructuredReading::sourceByte(const BlockRuns& block, std::size_t at,
                                                           bool end) {
    const std::size_t byte = end && at > 0 ? at - 1 : at;
    auto run =
        std::upper_bound(block.runs.begin(), block.runs.end(), byte,
                         [](std::size_t value, const auto& entry) { return value < entry.first; });
    if (run == block.runs.begin())
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
