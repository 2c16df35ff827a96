#include "summary.h"

#include "speech/quoted_name.h"

#include <algorithm>
#include <cstdio>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

std::string shownName(const std::filesystem::path& path) {
    const std::string& name = path.native();
    return isPlainName(name) ? name : quotedName(name);
}

// The container a request's sound is written in, as the converter settles it.
Container containerOf(const ConversionRequest& request) {
    return writtenContainer(request.container, request.output, request.toStandardOutput);
}

} // namespace

void summarize(const ConversionRequest& request, double seconds, std::uint64_t limitedSamples) {
    const Container container = containerOf(request);
    const AudioFormat written = writtenFormat(container, request.format);
    std::string format = written.describe();
    if (written != request.format)
        format += std::string(" (") + containerRow(container).name + " has no " +
                  std::to_string(request.format.sampleRate) + " Hz)";
    std::string limited =
        limitedSamples > 0 ? ", " + std::to_string(limitedSamples) + " samples limited" : "";
    if (request.splitChapters)
        limited += ", one file per chapter"; // named NAME-NN-Title beside it
    const std::string why = request.voiceChoice.empty() ? "" : " (" + request.voiceChoice + ")";
    std::fprintf(stderr, "%s: %.1f s of %s, voice %s%s%s\n", shownName(request.output).c_str(),
                 seconds, format.c_str(), request.voice.displayName.c_str(), why.c_str(),
                 limited.c_str());
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
