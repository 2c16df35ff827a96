#include "speech/json_text.h"
#include "speech/timing_files.h"

#include <charconv>

namespace kestrova::speech {
namespace {

// Six decimals tell apart the samples of any rate up to 500 kHz; to_chars, unlike printf,
// writes a point whatever the locale.
std::string secondsText(const SpeechTimings& timings, std::uint64_t frame) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, timings.seconds(frame),
                                   std::chars_format::fixed, 6);
    return std::string(text, end.ptr);
}

std::string optionalNumber(const std::optional<std::uint64_t>& number) {
    return number ? std::to_string(*number) : "null";
}

std::string partsJson(const SentenceTiming& sentence) {
    if (sentence.parts.empty())
        return {};
    std::string json = ", \"parts\": [";
    for (const SentencePart& part : sentence.parts)
        json += std::string(&part == &sentence.parts.front() ? "" : ", ") +
                "{\"offset\": " + std::to_string(part.offset) +
                ", \"text\": " + jsonString(part.text) + ", \"voice\": " + jsonString(part.voice) +
                "}";
    return json + "]";
}

std::string sentenceJson(const SpeechTimings& timings, const SentenceTiming& sentence) {
    return "{\"text\": " + jsonString(sentence.text) +
           ", \"start_byte\": " + optionalNumber(sentence.startByte) +
           ", \"end_byte\": " + optionalNumber(sentence.endByte) +
           (sentence.source.empty() ? std::string()
                                    : ", \"source\": " + jsonString(sentence.source)) +
           (sentence.page.empty() ? std::string() : ", \"page\": " + jsonString(sentence.page)) +
           partsJson(sentence) + ", \"paragraph\": " + std::to_string(sentence.paragraph) +
           ", \"chapter\": " + std::to_string(sentence.chapter) +
           ", \"first_sample\": " + std::to_string(sentence.firstFrame) +
           ", \"last_sample\": " + std::to_string(sentence.lastFrame) +
           ", \"start_seconds\": " + secondsText(timings, sentence.firstFrame) +
           ", \"end_seconds\": " + secondsText(timings, sentence.lastFrame + 1) + "}";
}

std::string chapterJson(const SpeechTimings& timings, const ChapterTiming& chapter,
                        const std::string* file) {
    return "{\"number\": " + std::to_string(chapter.number) +
           ", \"title\": " + jsonString(chapter.title) +
           ", \"start_sample\": " + std::to_string(chapter.startFrame) +
           ", \"heading_sample\": " + std::to_string(chapter.headingFrame) +
           ", \"end_sample\": " + std::to_string(chapter.endFrame) +
           ", \"start_seconds\": " + secondsText(timings, chapter.startFrame) +
           ", \"heading_seconds\": " + secondsText(timings, chapter.headingFrame) +
           ", \"end_seconds\": " + secondsText(timings, chapter.endFrame) +
           (file ? ", \"sound_file\": " + jsonString(*file) : std::string()) + "}";
}

std::string markJson(const SpeechTimings& timings, const MarkTiming& mark) {
    return "{\"name\": " + jsonString(mark.name) + ", \"sample\": " + std::to_string(mark.frame) +
           ", \"seconds\": " + secondsText(timings, mark.frame) + "}";
}

// One entry a line: a long book stays readable, and diffable, line by line.
template <typename Entries, typename ToJson>
std::string arrayJson(const Entries& entries, ToJson toJson) {
    if (entries.empty())
        return "[]";
    std::string json = "[\n";
    for (std::size_t i = 0; i < entries.size(); ++i)
        json += "    " + toJson(entries[i]) + (i + 1 < entries.size() ? ",\n" : "\n");
    return json + "  ]";
}

} // namespace

std::string timingsJson(const SpeechTimings& timings,
                        const std::optional<std::string>& soundFileName,
                        const std::vector<std::string>& chapterFileNames) {
    const bool filePerChapter =
        !chapterFileNames.empty() && chapterFileNames.size() == timings.chapters.size();
    const auto sentence = [&](const SentenceTiming& entry) {
        return sentenceJson(timings, entry);
    };
    const auto chapter = [&](const ChapterTiming& entry) {
        const auto index = static_cast<std::size_t>(&entry - timings.chapters.data());
        return chapterJson(timings, entry, filePerChapter ? &chapterFileNames[index] : nullptr);
    };
    const auto mark = [&](const MarkTiming& entry) {
        return markJson(timings, entry);
    };
    return "{\n  \"sample_rate\": " + std::to_string(timings.sampleRate) +
           ",\n  \"frames\": " + std::to_string(timings.frames) +
           ",\n  \"seconds\": " + secondsText(timings, timings.frames) +
           ",\n  \"sound_file\": " + (soundFileName ? jsonString(*soundFileName) : "null") +
           ",\n  \"sentences\": " + arrayJson(timings.sentences, sentence) +
           ",\n  \"chapters\": " + arrayJson(timings.chapters, chapter) +
           ",\n  \"marks\": " + arrayJson(timings.marks, mark) + "\n}\n";
}

} // namespace kestrova::speech
