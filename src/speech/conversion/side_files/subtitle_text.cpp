#include "speech/ascii.h"
#include "speech/conversion/side_files/subtitle_cues.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kestrova::speech {
namespace {

// A cue's start and end in the format's unit (milliseconds, or hundredths for LRC).
struct CueTime {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// Rounded to the nearest unit, then each cue moved to start no earlier than the one before
// ends and to last at least one unit: a cue shorter than the unit still shows, and no two
// overlap.
std::vector<CueTime> cueTimes(const std::vector<SubtitleCue>& cues, int sampleRate,
                              std::uint64_t unitsPerSecond) {
    if (sampleRate <= 0 && !cues.empty())
        throw SpeechError("the timings have no sample rate");
    const auto rate = static_cast<std::uint64_t>(sampleRate);
    const auto units = [&](std::uint64_t frame) {
        return (frame * unitsPerSecond + rate / 2) / rate;
    };
    std::vector<CueTime> times;
    std::uint64_t previousEnd = 0;
    for (const SubtitleCue& cue : cues) {
        CueTime time;
        time.start = std::max(units(cue.startFrame), previousEnd);
        time.end = std::max(units(cue.endFrame), time.start + 1);
        previousEnd = time.end;
        times.push_back(time);
    }
    return times;
}

// HH:MM:SS followed by separator and milliseconds.
std::string clockTime(std::uint64_t milliseconds, char separator) {
    char text[48];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu%c%03llu",
                  static_cast<unsigned long long>(milliseconds / 3'600'000),
                  static_cast<unsigned long long>(milliseconds / 60'000 % 60),
                  static_cast<unsigned long long>(milliseconds / 1000 % 60), separator,
                  static_cast<unsigned long long>(milliseconds % 1000));
    return text;
}

// [mm:ss.xx], the minutes counting on past an hour.
std::string lrcTime(std::uint64_t hundredths) {
    char text[48];
    std::snprintf(text, sizeof text, "[%02llu:%02llu.%02llu]",
                  static_cast<unsigned long long>(hundredths / 6000),
                  static_cast<unsigned long long>(hundredths / 100 % 60),
                  static_cast<unsigned long long>(hundredths % 100));
    return text;
}

// U+2060 WORD JOINER: invisible, and no player takes a character it follows for markup.
constexpr std::string_view wordJoiner = "\xE2\x81\xA0";

// ffmpeg's decoders, and the players built on them, turn cue text into ASS, where a
// backslash starts an escape such as \N or \h; a word joiner after it keeps it a backslash.
void appendBackslash(std::string& text) {
    text += '\\';
    text += wordJoiner;
}

// The cue text of WebVTT is markup: its three special characters as character references,
// which also keeps any "-->" out.
std::string webVttText(std::string_view line) {
    std::string text;
    for (const char c : line) {
        if (c == '&')
            text += "&amp;";
        else if (c == '<')
            text += "&lt;";
        else if (c == '>')
            text += "&gt;";
        else if (c == '\\')
            appendBackslash(text);
        else
            text += c;
    }
    return text;
}

// A voice's id as a voice span's annotation: the three special characters as character
// references, as in cue text, and a control character, which no id should hold, a space.
std::string webVttAnnotation(std::string_view voice) {
    std::string annotation;
    for (const char c : voice) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            annotation += ' ';
        else if (c == '&' || c == '<' || c == '>')
            annotation += webVttText(std::string_view(&c, 1));
        else
            annotation += c;
    }
    return annotation;
}

// A line with each voice's words in a voice span, <v id>words</v>, the space between two
// voices outside both. Each line's spans are whole, so a line read alone still says who
// speaks it.
std::string webVttVoicedText(std::string_view line, const std::vector<CueVoice>& voices) {
    std::string text;
    for (std::size_t i = 0; i < voices.size(); ++i) {
        const std::size_t at = voices[i].at;
        const std::size_t end = i + 1 < voices.size() ? voices[i + 1].at : line.size();
        const std::size_t spoken = line.find_last_not_of(' ', end - 1) + 1;
        text.append("<v ").append(webVttAnnotation(voices[i].voice)).append(">");
        text.append(webVttText(line.substr(at, spoken - at))).append("</v>");
        text.append(line.substr(spoken, end - spoken));
    }
    return text;
}

bool startsEntityName(char c) {
    return c == '#' || std::isalnum(static_cast<unsigned char>(c));
}

// SubRip has no escapes, and players read HTML-like tags, &name; references and {\...}
// style codes in it. What would read as markup is kept out: a word joiner after each '<',
// after a '&' that starts a name and before the '>' of an arrow "-->", which would read as a
// timing line; braces, which ASS hides with all between them, as the full-width ｛ and ｝.
std::string subRipText(std::string_view line) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '{') {
            text += "\xEF\xBD\x9B"; // U+FF5B
        } else if (c == '}') {
            text += "\xEF\xBD\x9D"; // U+FF5D
        } else if (c == '\\') {
            appendBackslash(text);
        } else {
            if (c == '>' && text.ends_with("--"))
                text += wordJoiner;
            text += c;
            if (c == '<' || (c == '&' && i + 1 < line.size() && startsEntityName(line[i + 1])))
                text += wordJoiner;
        }
    }
    return text;
}

std::string subRip(const std::vector<SubtitleCue>& cues, const std::vector<CueTime>& times) {
    std::string text;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        text += std::to_string(i + 1) + "\n" + clockTime(times[i].start, ',') + " --> " +
                clockTime(times[i].end, ',') + "\n";
        for (const std::string& line : cues[i].lines)
            text += subRipText(line) + "\n";
        text += "\n";
    }
    return text;
}

std::string webVtt(const std::vector<SubtitleCue>& cues, const std::vector<CueTime>& times,
                   SubtitleVoices voices) {
    // The signature, then each block after a blank line.
    std::string text = "WEBVTT\n";
    for (std::size_t i = 0; i < cues.size(); ++i) {
        // Appended piece by piece: GCC 12 at -O3 takes "\n" + std::string for an overlapping copy.
        text.append("\n").append(clockTime(times[i].start, '.'));
        text.append(" --> ").append(clockTime(times[i].end, '.')).append("\n");
        const bool named = voices == SubtitleVoices::Named && !cues[i].voices.empty();
        for (std::size_t line = 0; line < cues[i].lines.size(); ++line)
            text += (named ? webVttVoicedText(cues[i].lines[line], cues[i].voices[line])
                           : webVttText(cues[i].lines[line])) +
                    "\n";
    }
    return cues.empty() ? text + "\n" : text;
}

// LRC gives only starts: where a cue ends before the next begins, an empty line at its end
// clears it.
std::string lrc(const std::vector<SubtitleCue>& cues, const std::vector<CueTime>& times) {
    std::string text;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        text += lrcTime(times[i].start);
        for (std::size_t line = 0; line < cues[i].lines.size(); ++line)
            text += (line ? " " : "") + cues[i].lines[line];
        text += "\n";
        if (i + 1 == cues.size() || times[i + 1].start > times[i].end)
            text += lrcTime(times[i].end) + "\n";
    }
    return text;
}

} // namespace

SubtitleKind subtitleKindForPath(const std::filesystem::path& path) {
    const std::string ending = lowerCaseEnding(path);
    if (ending == ".srt")
        return SubtitleKind::SubRip;
    if (ending == ".vtt")
        return SubtitleKind::WebVtt;
    if (ending == ".lrc")
        return SubtitleKind::Lrc;
    throw FileError(outputFailure(
        path, "its ending does not say which subtitles: .srt, .vtt or .lrc", "subtitle file"));
}

std::string subtitles(const SpeechTimings& timings, SubtitleKind kind, SubtitleVoices voices) {
    const std::vector<SubtitleCue> cues = subtitleCues(timings);
    switch (kind) {
    case SubtitleKind::SubRip:
        return subRip(cues, cueTimes(cues, timings.sampleRate, 1000));
    case SubtitleKind::WebVtt:
        return webVtt(cues, cueTimes(cues, timings.sampleRate, 1000), voices);
    case SubtitleKind::Lrc:
        return lrc(cues, cueTimes(cues, timings.sampleRate, 100));
    }
    return {};
}

} // namespace kestrova::speech
