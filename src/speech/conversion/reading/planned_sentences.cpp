#include "speech/conversion/reading/planned_sentences.h"

#include <algorithm>

namespace kestrova::speech {
namespace {

std::uint64_t orNoByte(std::optional<std::uint64_t> byte, std::uint64_t none) {
    return byte.value_or(none);
}

} // namespace

void enterChapter(std::vector<ChapterTiming>& chapters, const DocumentSentence& sentence) {
    if (chapters.empty() || chapters.back().number != sentence.chapter)
        chapters.push_back(
            {.number = sentence.chapter,
             .title = sentence.chapter > 0 ? std::string(sentence.chapterTitle) : std::string()});
}

void PlannedSentences::add(const DocumentSentence& sentence) {
    enterChapter(chapters_, sentence);
    text_ += sentence.chunk.text;
    for (const VoiceStart& change : sentence.voiceChanges)
        changes_.push_back(
            {.at = static_cast<std::uint32_t>(change.at), .voice = voiceIndex(*change.voice)});
    records_.push_back({.textEnd = text_.size(),
                        .endCharacter = sentence.chunk.endCharacter,
                        .startByte = orNoByte(sentence.startByte, noByte),
                        .endByte = orNoByte(sentence.endByte, noByte),
                        .paragraph = sentence.paragraph,
                        .chapter = static_cast<std::uint32_t>(chapters_.size() - 1),
                        .source = nameIndex(sources_, sentence.source),
                        .page = nameIndex(pages_, sentence.page),
                        .changesEnd = static_cast<std::uint32_t>(changes_.size()),
                        .voice = voiceIndex(*sentence.voice),
                        .before = sentence.chunk.before});
}

void PlannedSentences::replay(const std::function<void(DocumentSentence)>& speak) const {
    const auto byteOf = [](std::uint64_t byte) {
        return byte == noByte ? std::nullopt : std::optional(byte);
    };
    std::uint64_t textStart = 0;
    std::uint32_t changesStart = 0;
    for (const Record& record : records_) {
        const ChapterTiming& chapter = chapters_[record.chapter];
        std::vector<VoiceStart> voiceChanges;
        for (std::uint32_t i = changesStart; i < record.changesEnd; ++i)
            voiceChanges.push_back({.at = changes_[i].at, .voice = &voices_[changes_[i].voice]});
        changesStart = record.changesEnd;
        speak({.chunk = {.text = text_.substr(textStart, record.textEnd - textStart),
                         .endCharacter = record.endCharacter,
                         .before = record.before,
                         .startByte = 0,
                         .endByte = 0},
               .voice = &voices_[record.voice],
               .voiceChanges = std::move(voiceChanges),
               .chapter = chapter.number,
               .chapterTitle = chapter.title,
               .paragraph = record.paragraph,
               .startByte = byteOf(record.startByte),
               .endByte = byteOf(record.endByte),
               .source = sources_[record.source],
               .page = pages_[record.page]});
        textStart = record.textEnd;
    }
}

// A document speaks with a few voices: the last one found is nearly always the one asked for.
std::uint16_t PlannedSentences::voiceIndex(const Voice& voice) {
    const auto same = [&voice](const Voice& known) {
        return known.engine == voice.engine && known.displayName == voice.displayName;
    };
    if (!voices_.empty() && same(voices_.back()))
        return static_cast<std::uint16_t>(voices_.size() - 1);
    const auto known = std::find_if(voices_.begin(), voices_.end(), same);
    if (known != voices_.end())
        return static_cast<std::uint16_t>(known - voices_.begin());
    voices_.push_back(voice);
    return static_cast<std::uint16_t>(voices_.size() - 1);
}

// Sentences come a page at a time: a source or page is nearly always the one before.
std::uint32_t PlannedSentences::nameIndex(std::vector<std::string>& names, std::string_view name) {
    if (names.empty() || names.back() != name)
        names.emplace_back(name);
    return static_cast<std::uint32_t>(names.size() - 1);
}

} // namespace kestrova::speech
