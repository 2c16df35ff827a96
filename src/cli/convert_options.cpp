#include "convert_options.h"

#include "conversion_requests.h"
#include "speech/ascii.h"
#include "speech/quoted_name.h"
#include "speech/request_check.h"
#include "speech/speech_error.h"
#include "speech/text_encoding.h"
#include "speech/timing_files.h"

#include <algorithm>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

// -o for the one input, or -d for several; standard input read once, its sound sent somewhere.
// A read-along book is one file of one book: named by -o, holding its own audio files.
void checkReadAlongBook(const ConvertOptions& options) {
    if (!options.writesReadAlongBook()) {
        if (options.readAlongAudio)
            throw UsageError("--read-along-audio is for a read-along book (--type epub)");
        return;
    }
    if (options.output.empty() || options.toStandardOutput() || options.inputs.size() != 1)
        throw UsageError("a read-along book (--type epub) is written from one INPUT into the "
                         "file -o names");
    if (options.splitChapters || !options.cueSheet.empty())
        throw UsageError("a read-along book holds its own audio files: not with "
                         "--split-chapters or --cue-sheet");
}

void checkInputsAndOutputs(const ConvertOptions& options) {
    const auto& inputs = options.inputs;
    if (inputs.size() > 1 && !options.output.empty())
        throw UsageError("-o names the output of one input; for several, -d names a folder");
    if (!options.output.empty() && !options.folder.empty())
        throw UsageError("-o and -d cannot both be given");
    if (std::count(inputs.begin(), inputs.end(), standardInputName) > 1)
        throw UsageError("standard input (-) can be read only once");
    const bool readsStandardInput =
        std::find(inputs.begin(), inputs.end(), standardInputName) != inputs.end();
    if (readsStandardInput && options.output.empty() && options.folder.empty())
        throw UsageError("the sound of standard input (-) needs -o or -d to say where it goes");
}

// A tag is written as UTF-8 into every container: bytes that are not would be written as they
// are into some and left out of others.
void checkTagsAreUtf8(const ConvertOptions& options) {
    const speech::SoundTags& tags = options.tags;
    const std::pair<const char*, const std::optional<std::string>*> tagOptions[] = {
        {"--title", &tags.title}, {"--artist", &tags.artist}, {"--album", &tags.album},
        {"--genre", &tags.genre}, {"--date", &tags.date},     {"--comment", &tags.comment},
        {"--track", &tags.track}};
    for (const auto& [name, value] : tagOptions)
        if (*value && !isUtf8(**value))
            throw UsageError(std::string(name) + " " + quotedValue(**value) +
                             " is not UTF-8: a tag is written as UTF-8 text");
}

// The tags, the files beside the sound and the split into chapters, each where it can be.
void checkTagsAndSideFiles(const ConvertOptions& options) {
    checkTagsAreUtf8(options);
    const bool namesSideFiles =
        !options.timings.empty() || !options.subtitles.empty() || !options.cueSheet.empty();
    if (namesSideFiles && options.inputs.size() > 1)
        throw UsageError("--timings, --subtitles and --cue-sheet name the files of one input");
    if ((options.chaptersOnly || options.chapterPauseMs) && options.namesSsml())
        throw UsageError("chapters are found in plain text: not --chapters-only or "
                         "--chapter-pause with --ssml");
    if (!options.dialogueVoice.empty() && options.namesSsml())
        throw UsageError("an SSML document names its own voices: not --dialogue-voice with "
                         "--ssml");
    if (options.splitChapters && !options.cueSheet.empty())
        throw UsageError("a cue sheet describes one sound file: not --split-chapters");
    if (!options.subtitles.empty()) {
        try {
            subtitleKindForPath(options.subtitles);
        } catch (const SpeechError& failure) {
            throw UsageError(failure.what());
        }
    }
    if (!options.cueSheet.empty() && options.type && !containerRow(*options.type).cueSheetType)
        throw UsageError(std::string("a cue sheet needs a sound file a player can read: not ") +
                         containerRow(*options.type).namedInSentence);
    if (options.chapterPattern) {
        try {
            checkChapterPattern(*options.chapterPattern);
        } catch (const SpeechError& failure) {
            throw UsageError("the chapter pattern " + quotedName(*options.chapterPattern) +
                             " is refused: " + failure.what());
        }
    }
}

// A rate asked for by -f is never changed: one the container lacks is bad usage (without -f,
// a container with rates of its own is written at the next rate it has).
void checkRate(const ConvertOptions& options) {
    if (!options.formatCode)
        return;
    // One input's output, or each under the ending of --type (a wave file without it).
    const Container container =
        options.writesReadAlongBook()
            ? options.readAlongAudioContainer()
            : writtenContainer(options.type, options.output, options.toStandardOutput());
    const AudioFormat format = AudioFormat::fromFormatCode(*options.formatCode);
    if (writtenFormat(container, format) == format)
        return;
    const ContainerRow& row = containerRow(container);
    std::vector<std::string> rates;
    for (const int rate : row.rates)
        rates.push_back(std::to_string(rate / 1000));
    throw UsageError(std::string(row.name) + " has no " + std::to_string(format.sampleRate) +
                     " Hz (format code " + std::to_string(*options.formatCode) +
                     "): choose a format code of " + listedAs(rates, "or") + " kHz");
}

// A voice command is the voice: not with -e, and not with controls that only an engine of ours
// can take; its own options only with it.
void checkVoiceCommand(const ConvertOptions& options) {
    if (options.voiceCommand.empty()) {
        if (!options.voiceName.empty() || options.voiceCommandRate || options.voiceCommandTimeout)
            throw UsageError("--voice-name, --voice-command-rate and --voice-command-timeout "
                             "need --voice-command");
        return;
    }
    if (!options.engine.empty())
        throw UsageError("-e and --voice-command both choose the voice: give one");
    if (options.controls.ratePercent != 100 || options.controls.pitchPercent != 100)
        throw UsageError("a voice command speaks at its own rate and pitch: not --rate or "
                         "--pitch with --voice-command (give them to the command itself)");
}

// --ssml is --input-type ssml.
void checkInputType(const ConvertOptions& options) {
    if (options.controls.ssml && options.inputType && options.inputType != InputKind::Ssml)
        throw UsageError(std::string("--ssml is --input-type ssml: not with --input-type ") +
                         inputKindRow(*options.inputType).typeName);
}

// The rules of the request itself are the library's, stated there once for every program; the
// kind's rules wait for the file's content unless the options name the kind.
void checkAskedRequest(const ConvertOptions& options) {
    const bool kindNamed = options.inputType || options.controls.ssml;
    checkRequest(askedRequest(options),
                 kindNamed ? InputKindSettled::Named : InputKindSettled::NotYet);
}

// A book in one M4B file: chapters, the loudness of audiobooks, a little silence at each end.
void applyAudiobook(ConvertOptions& options) {
    options.chapters = true;
    // -o's ending, or --type, chooses the file type; -d and the name beside INPUT get M4B.
    if (!options.type && options.output.empty())
        options.type = Container::M4b;
    options.loudness.targetLufs = options.loudness.targetLufs.value_or(-18.0);
    options.loudness.truePeakDbtp = options.loudness.truePeakDbtp.value_or(-1.0);
    options.leadInMs = options.leadInMs.value_or(500);
    options.tailMs = options.tailMs.value_or(2000);
}

// One MP3 file per chapter, as an audiobook store takes them. An integrated loudness of
// -19 LUFS puts the RMS of synthetic speech, its pauses and room tone counted, near -20 dB,
// inside -23 to -18; the -3.5 dBTP ceiling keeps the decoded sample peaks under -3 dB. Room
// tone is at both ends of every file, so no chapter pause is added unless asked for.
void applyAcx(ConvertOptions& options) {
    options.splitChapters = true;
    if (!options.type && (options.output.empty() || options.toStandardOutput()))
        options.type = Container::Mp3;
    options.formatCode = options.formatCode.value_or(AcxRules::formatCode);
    if (writtenContainer(options.type, options.output, options.toStandardOutput()) ==
        Container::Mp3)
        options.bitrateKbps = options.bitrateKbps.value_or(AcxRules::bitrateKbps);
    options.loudness.targetLufs = options.loudness.targetLufs.value_or(-19.0);
    options.loudness.truePeakDbtp = options.loudness.truePeakDbtp.value_or(-3.5);
    options.leadInMs = options.leadInMs.value_or(AcxRules::leadInMs);
    options.tailMs = options.tailMs.value_or(AcxRules::tailMs);
    options.chapterPauseMs = options.chapterPauseMs.value_or(0);
}

} // namespace

bool ConvertOptions::writesReadAlongBook() const {
    return readAlongType || (!type && lowerCaseEnding(output) == ".epub");
}

void ConvertOptions::applyPreset() {
    if (audiobook && acx)
        throw UsageError("--audiobook and --acx are two presets: choose one");
    if (audiobook)
        applyAudiobook(*this);
    if (acx)
        applyAcx(*this);
}

void ConvertOptions::validate() const {
    checkInputType(*this);
    checkVoiceCommand(*this);
    checkAskedRequest(*this);
    checkInputsAndOutputs(*this);
    checkReadAlongBook(*this);
    checkTagsAndSideFiles(*this);
    checkRate(*this);
}

} // namespace kestrova::cli
