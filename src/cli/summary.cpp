#include "summary.h"

#include "speech/quoted_name.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

std::string shownName(const std::filesystem::path& path) {
    const std::string& name = path.native();
    return isPlainName(name) ? name : quotedName(name);
}

// The container a request's sound is written in, as the converter settles it.
Container containerOf(const ConversionRequest& request) {
    return writtenContainer(request.output.container, request.output.path,
                            request.output.toStandardOutput);
}

std::string level(double decibels, const char* unit) {
    if (!std::isfinite(decibels))
        return std::string("silent (no ") + unit + ")";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", decibels, unit);
    return text;
}

// " (target -5.0 LUFS not reached: the -9.0 dBTP ceiling allows at most 8 dB of limiting)"
// where the gain stopped short of the target; nothing otherwise.
std::string outOfReach(const ConversionRequest& request, const LoudnessReport& report) {
    if (!report.targetOutOfReach || !request.mastering.loudness.targetLufs)
        return {};
    char most[16];
    std::snprintf(most, sizeof most, "%g", mostLimitingDb);
    return " (target " + level(*request.mastering.loudness.targetLufs, "LUFS") +
           " not reached: the " + level(report.ceilingDbtp, "dBTP") + " ceiling allows at most " +
           most + " dB of limiting)";
}

// "  loudness -21.2 LUFS, true peak -0.1 dBTP", what was written when it changed (a lossy
// file's loudness as it decodes, with why a target was out of reach), and the limiter's work.
void summarizeLoudness(const ConversionRequest& request, const LoudnessReport& report) {
    const LoudnessControl& asked = request.mastering.loudness;
    std::vector<std::string> parts;
    if (report.before)
        parts.push_back("loudness " + level(report.before->integratedLufs, "LUFS") +
                        ", true peak " + level(report.before->truePeakDbtp, "dBTP"));
    if (report.after && (asked.changesLevel() || report.limitedSamples > 0)) {
        char gain[32];
        std::snprintf(gain, sizeof gain, " with %+.1f dB", report.gainDb);
        parts.push_back("written" + std::string(asked.targetLufs ? gain : "") + ": " +
                        level(report.after->integratedLufs + report.encoderChangeLu, "LUFS") +
                        outOfReach(request, report) + ", true peak " +
                        level(report.after->truePeakDbtp, "dBTP"));
    }
    if (report.limitedSamples > 0)
        parts.push_back(level(report.ceilingDbtp, "dBTP") + " ceiling held on " +
                        std::to_string(report.limitedSamples) + " samples in " +
                        std::to_string(report.limitedStretches) + " stretches");
    std::string line;
    for (const std::string& part : parts)
        line += (line.empty() ? "  " : "; ") + part;
    if (!line.empty())
        std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace

void summarize(const ConversionRequest& request, double seconds, std::uint64_t limitedSamples,
               const std::optional<LoudnessReport>& loudness) {
    const Container container = containerOf(request);
    const AudioFormat written = writtenFormat(container, request.output.format);
    std::string format = written.describe();
    if (written != request.output.format)
        format += std::string(" (") + containerRow(container).name + " has no " +
                  std::to_string(request.output.format.sampleRate) + " Hz)";
    std::string limited =
        limitedSamples > 0 ? ", " + std::to_string(limitedSamples) + " samples limited" : "";
    if (request.chapters.split)
        limited += ", one file per chapter"; // named NAME-NN-Title beside it
    const std::string why =
        request.speech.voiceChoice.empty() ? "" : " (" + request.speech.voiceChoice + ")";
    std::fprintf(stderr, "%s: %.1f s of %s, voice %s%s%s\n", shownName(request.output.path).c_str(),
                 seconds, format.c_str(), request.speech.voice.displayName.c_str(), why.c_str(),
                 limited.c_str());
    if (loudness)
        summarizeLoudness(request, *loudness);
}

void summarizeResumed(const ConversionResult& result) {
    if (result.keptChunks > 0)
        std::fprintf(stderr, "resumed: %zu of %zu chunks kept from an earlier run\n",
                     result.keptChunks, result.chunks);
}

void summarizeChapters(const ConversionResult& result) {
    const std::size_t headings = static_cast<std::size_t>(
        std::count_if(result.timings.chapters.begin(), result.timings.chapters.end(),
                      [](const ChapterTiming& chapter) { return chapter.number > 0; }));
    std::fprintf(stderr, "%zu %s found\n", headings, headings == 1 ? "chapter" : "chapters");
    for (const std::filesystem::path& file : result.chapterFiles)
        std::fprintf(stderr, "  %s\n", shownName(file).c_str());
}

} // namespace kestrova::cli
