#include "side_files.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"

#include <filesystem>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

// The name of the sound as a file beside it sees it.
std::string soundNameFrom(const std::filesystem::path& sideFile,
                          const std::filesystem::path& sound) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::absolute(sideFile, error).parent_path();
    const std::filesystem::path relative =
        std::filesystem::absolute(sound, error).lexically_relative(base);
    return (relative.empty() ? sound : relative).string();
}

} // namespace

void checkSideFiles(const ConvertOptions& options, const ConversionPlan& plan) {
    const ConversionRequest& request = plan.request();
    if (!options.cueSheet.empty()) {
        try {
            checkCueSheetSound(
                soundNameFrom(options.cueSheet, request.output.path),
                request.output.container.value_or(containerForPath(request.output.path)));
        } catch (const SpeechError& failure) {
            throw UsageError(outputFailure(options.cueSheet, failure.what(), "cue sheet"));
        }
        try {
            checkCueSheetTracks(plan.chapters().chapters);
        } catch (const SpeechError& failure) {
            throw FileError(outputFailure(options.cueSheet, failure.what(), "cue sheet"));
        }
    }
    const bool replace = !options.noClobber;
    if (!options.timings.empty())
        checkTextFilePath(options.timings, "timings file", replace);
    if (!options.subtitles.empty())
        checkTextFilePath(options.subtitles, "subtitle file", replace);
    if (!options.cueSheet.empty())
        checkTextFilePath(options.cueSheet, "cue sheet", replace);
}

void writeSideFiles(const ConvertOptions& options, const ConversionPlan& plan,
                    const ConversionResult& result) {
    const ConversionRequest& request = plan.request();
    const bool replace = !options.noClobber;
    if (!options.timings.empty()) {
        // The files written, as the JSON's folder sees them: the one sound file, or each
        // chapter's; standard output is no file.
        std::optional<std::string> sound;
        std::vector<std::string> chapterFiles;
        if (request.chapters.split)
            for (const std::filesystem::path& file : result.chapterFiles)
                chapterFiles.push_back(soundNameFrom(options.timings, file));
        else if (!request.output.toStandardOutput)
            sound = soundNameFrom(options.timings, request.output.path);
        writeTextFile(options.timings, timingsJson(result.timings, sound, chapterFiles),
                      "timings file", replace);
    }
    if (!options.subtitles.empty()) {
        // The cues name their voices where a second voice reads the dialogue.
        const SubtitleVoices voices =
            request.speech.dialogueVoice ? SubtitleVoices::Named : SubtitleVoices::Unnamed;
        writeTextFile(options.subtitles,
                      subtitles(result.timings, subtitleKindForPath(options.subtitles), voices),
                      "subtitle file", replace);
    }
    if (!options.cueSheet.empty()) {
        std::string sheet;
        try {
            sheet =
                cueSheet(result.timings, soundNameFrom(options.cueSheet, request.output.path),
                         request.output.container.value_or(containerForPath(request.output.path)),
                         request.output.tags);
        } catch (const SpeechError& failure) {
            throw FileError(outputFailure(options.cueSheet, failure.what(), "cue sheet"));
        }
        writeTextFile(options.cueSheet, sheet, "cue sheet", replace);
    }
}

} // namespace kestrova::cli
