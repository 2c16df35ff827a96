#include "speech/base/utf8.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"

#include <algorithm>
#include <cstdio>

namespace kestrova::speech {
namespace {

constexpr unsigned maximumTracks = 99;
constexpr std::uint64_t cueFramesPerSecond = 75;
// The line ends of the tools that made the format, which every reader takes.
constexpr const char* lineEnd = "\r\n";

// A quoted string of a cue sheet, which has no escapes: a double quote becomes a single one,
// control characters spaces and bytes that are not UTF-8 U+FFFD.
std::string cueString(std::string_view text) {
    std::string safe = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            i += appendCharacterOrReplacement(text.substr(i), safe);
            continue;
        }
        safe += c == '"' ? '\'' : (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
        ++i;
    }
    return safe + "\"";
}

// mm:ss:ff, the frame the sample falls in: a track never starts before its heading.
std::string indexTime(std::uint64_t frame, int sampleRate) {
    const std::uint64_t cueFrame =
        frame * cueFramesPerSecond / static_cast<std::uint64_t>(sampleRate);
    char text[48];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(cueFrame / (cueFramesPerSecond * 60)),
                  static_cast<unsigned long long>(cueFrame / cueFramesPerSecond % 60),
                  static_cast<unsigned long long>(cueFrame % cueFramesPerSecond));
    return text;
}

// WAVE stands for any file the player decodes itself: FLAC, Ogg and AU too.
std::string fileType(Container container) {
    const char* const type = containerRow(container).cueSheetType;
    if (!type)
        throw SpeechError(std::string("a cue sheet cannot name ") +
                          containerRow(container).namedInSentence +
                          ", which has no header to say its rate; choose a container such as "
                          "wav or flac");
    return type;
}

void refuseTracks(std::size_t tracks) {
    if (tracks > maximumTracks)
        throw SpeechError("a cue sheet holds at most 99 tracks, and this text makes " +
                          std::to_string(tracks) + "; fewer headings, or no cue sheet");
}

// A track for each chapter, at its heading (headingFrame) and titled as the sheet shows it.
std::vector<ChapterTiming> tracksOf(const SpeechTimings& timings, const std::string& soundFileName,
                                    const SoundTags& tags) {
    std::vector<ChapterTiming> tracks;
    for (const ChapterTiming& chapter : timings.chapters)
        if (chapter.number > 0) {
            tracks.push_back(chapter);
            if (chapter.title.empty())
                tracks.back().title = "Chapter " + std::to_string(chapter.number);
        }
    const bool opening = std::any_of(timings.sentences.begin(), timings.sentences.end(),
                                     [](const SentenceTiming& s) { return s.chapter == 0; });
    if (opening || tracks.empty()) {
        // The text before the first heading, or all of it when it has none.
        std::string title = tags.title.value_or(
            tracks.empty() ? std::filesystem::path(soundFileName).stem().string() : "Opening");
        tracks.insert(tracks.begin(), {.number = 0, .title = std::move(title)});
    }
    refuseTracks(tracks.size());
    return tracks;
}

} // namespace

std::string cueSheet(const SpeechTimings& timings, const std::string& soundFileName,
                     Container container, const SoundTags& tags) {
    if (timings.sampleRate <= 0)
        throw SpeechError("the timings have no sample rate");
    checkCueSheetSound(soundFileName, container);
    const std::string type = fileType(container);
    const std::vector<ChapterTiming> tracks = tracksOf(timings, soundFileName, tags);

    std::string sheet;
    if (tags.genre)
        sheet += "REM GENRE " + cueString(*tags.genre) + lineEnd;
    if (tags.date)
        sheet += "REM DATE " + cueString(*tags.date) + lineEnd;
    if (tags.artist)
        sheet += "PERFORMER " + cueString(*tags.artist) + lineEnd;
    if (tags.title)
        sheet += "TITLE " + cueString(*tags.title) + lineEnd;
    sheet += "FILE \"" + soundFileName + "\" " + type + lineEnd;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", i + 1);
        sheet += std::string("  TRACK ") + number + " AUDIO" + lineEnd;
        sheet += "    TITLE " + cueString(tracks[i].title) + lineEnd;
        // The silence before the first heading belongs to the first track, as its pregap.
        if (i == 0 && tracks[i].headingFrame * cueFramesPerSecond >=
                          static_cast<std::uint64_t>(timings.sampleRate))
            sheet += std::string("    INDEX 00 00:00:00") + lineEnd;
        sheet += "    INDEX 01 " + indexTime(tracks[i].headingFrame, timings.sampleRate) + lineEnd;
    }
    return sheet;
}

void checkCueSheetSound(const std::string& soundFileName, Container container) {
    if (soundFileName.find_first_of("\"\r\n") != std::string::npos)
        throw SpeechError("a cue sheet cannot name a sound file whose name holds a double "
                          "quote or a line break");
    fileType(container);
}

void checkCueSheetTracks(const std::vector<ChapterTiming>& chapters) {
    // As tracksOf counts them: one per heading, and one for the text before the first.
    const auto headings = static_cast<std::size_t>(std::count_if(
        chapters.begin(), chapters.end(), [](const ChapterTiming& c) { return c.number > 0; }));
    const bool opening = headings == 0 || headings < chapters.size();
    refuseTracks(headings + (opening ? 1 : 0));
}

} // namespace kestrova::speech
