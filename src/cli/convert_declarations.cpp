#include "convert_declarations.h"

#include "acx_check.h"
#include "app/format_rule.h"
#include "conversion_requests.h"
#include "convert_options.h"
#include "progress_bar.h"
#include "shell_completion.h"
#include "side_files.h"
#include "speech/ascii.h"
#include "speech/batch_conversion.h"
#include "speech/chapter_selection.h"
#include "speech/conversion_plan.h"
#include "speech/converter.h"
#include "speech/input_kinds.h"
#include "speech/quoted_name.h"
#include "speech/request_check.h"
#include "speech/speech_error.h"
#include "speech/stop_signal_owner.h"
#include "summary.h"
#include "voice_listing.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <signal.h>
#include <tuple>
#include <unistd.h>

namespace kestrova::cli {
namespace {

using namespace kestrova::speech;

// The --type of a read-along book, beside the containers' names.
constexpr const char* readAlongTypeName = "epub";

// CLI11 reads "022" as octal and "0x12" as hexadecimal. Numbers here are decimal digits
// only, leading zeros meaning nothing; the validator leaves the plain decimal number for
// CLI11 to convert. Above the maximum a number is refused, or with clampAbove taken as it.
CLI::Validator decimalNumber(unsigned long minimum, unsigned long maximum, bool clampAbove,
                             const std::string& accepted) {
    return CLI::Validator(
        [=](std::string& value) -> std::string {
            const std::string refused = quotedName(value) + " is not accepted: " + accepted;
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
                return refused;
            unsigned long number = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), number);
            if (error == std::errc::result_out_of_range)
                number = ULONG_MAX;
            if (number < minimum || (number > maximum && !clampAbove))
                return refused;
            value = std::to_string(std::min(number, maximum));
            return {};
        },
        ""); // the option's help says what is accepted
}

// A level in decibels: an optional minus sign, digits and at most one decimal point (no
// exponent, no "inf"), from lowest to highest.
CLI::Validator decibels(double lowest, double highest, const std::string& accepted) {
    return CLI::Validator(
        [=](std::string& value) -> std::string {
            const std::string refused = quotedName(value) + " is not accepted: " + accepted;
            double number = 0;
            const char* const end = value.data() + value.size();
            const auto [stop, error] =
                std::from_chars(value.data(), end, number, std::chars_format::fixed);
            if (value.empty() || value.find_first_not_of("-.0123456789") != std::string::npos ||
                error != std::errc{} || stop != end || number < lowest || number > highest)
                return refused;
            return {};
        },
        "");
}

// The silence at the ends, and the presets that set it with the rest.
void declareRoomTone(CLI::App* convertCommand, ConvertOptions& options) {
    const std::string pauseLimit = std::to_string(maximumPauseMs);
    const auto addSilence = [&](const char* name, std::optional<int>& silence, const char* where) {
        convertCommand
            ->add_option(name, silence,
                         std::string("Silence ") + where +
                             ", in milliseconds, a decimal number 0 "
                             "to " +
                             pauseLimit + "; the timings and chapters move with it")
            ->type_name("MS")
            ->transform(decimalNumber(0, maximumPauseMs, false,
                                      "a silence is a decimal number of milliseconds from 0 to " +
                                          pauseLimit));
    };
    addSilence("--lead-in", options.leadInMs,
               "before the first sound (with --split-chapters, in the first file)");
    addSilence("--tail", options.tailMs,
               "after the last sound (with --split-chapters, in the last file)");
    convertCommand->add_flag(
        "--audiobook", options.audiobook,
        "Preset for a book: --chapters, an M4B file (unless -o's ending or --type says "
        "otherwise), --loudness -18 --true-peak -1 --lead-in 500 --tail 2000; options given "
        "win");
    convertCommand->add_flag(
        "--acx", options.acx,
        "Preset for an audiobook store: --split-chapters, MP3 at 44.1 kHz 16-bit mono (-f 34), "
        "constant 192 kb/s, --loudness -19 --true-peak -3.5 (RMS -23 to -18 dB, peaks under "
        "-3 dB), 600 ms of silence at the head and 1500 at the tail of every file, "
        "--chapter-pause 0; options given win. The summary checks each file");
}

// The level of the whole sound: a target and a ceiling, or a measurement alone.
void declareLoudnessOptions(CLI::App* convertCommand, ConvertOptions& options) {
    LoudnessControl& loudness = options.loudness;
    convertCommand
        ->add_option("--loudness", loudness.targetLufs,
                     "Integrated loudness of the whole sound (EBU R 128), in LUFS, -40 to -5 "
                     "(-16 for podcasts, -18 to -20 for audiobooks): measured over the whole "
                     "conversion, then one gain for it all; where the gain would carry the true "
                     "peak past --true-peak, a look-ahead limiter holds it there. The samples go "
                     "to a temporary file ($TMPDIR, else beside OUT) between the two passes")
        ->type_name("LUFS")
        ->check(decibels(-40, -5, "the loudness is a number of LUFS from -40 to -5"));
    convertCommand
        ->add_option("--true-peak", loudness.truePeakDbtp,
                     "Ceiling of the true peak, in dBTP, -9 to 0 (default -1). MP3, Ogg Vorbis "
                     "and Opus always get the -1 dBTP ceiling, so that decoding never clips; "
                     "alone, it sets the ceiling without a loudness target")
        ->type_name("DBTP")
        ->check(decibels(-9, 0, "the true peak is a number of dBTP from -9 to 0"));
    convertCommand->add_flag("--measure", loudness.measure,
                             "Measure the integrated loudness and the true peak and show them in "
                             "the summary; the samples stay as they are");
    declareRoomTone(convertCommand, options);
}

// ".flac, .ogg, .opus, .mp3, .m4b and .m4a": the endings that choose a container other than a wave
// file.
std::string endingsChoosingContainers() {
    std::vector<std::string> endings;
    for (const ContainerRow& row : containerRows())
        if (row.chosenByEnding && row.container != Container::Wave) {
            endings.emplace_back(row.ending);
            if (row.otherEnding != nullptr)
                endings.emplace_back(row.otherEnding);
        }
    return listedAs(endings, "and");
}

// A program of the user's as the voice.
void declareVoiceCommand(CLI::App* convertCommand, ConvertOptions& options) {
    convertCommand
        ->add_option("--voice-command", options.voiceCommand,
                     "Voice: a speech program of your own, run by /bin/sh -c for each chunk of "
                     "text: the text on its standard input, or in the file where COMMAND says "
                     "{text}; its WAV sound on its standard output, or in the file where it says "
                     "{wav}. It is first run on \"Hello.\" for its rate. Not with -e, --rate "
                     "or --pitch")
        ->type_name("COMMAND");
    convertCommand
        ->add_option("--voice-name", options.voiceName,
                     "The voice command's name in the summary (default: its first word)")
        ->type_name("NAME");
    convertCommand
        ->add_option("--voice-command-rate", options.voiceCommandRate,
                     "The voice command writes raw signed 16-bit little-endian mono samples at "
                     "this rate, a decimal number of Hz 1000 to 384000, instead of WAV")
        ->type_name("HZ")
        ->transform(decimalNumber(1000, 384000, false,
                                  "the rate is a decimal number of Hz from 1000 to 384000"));
    convertCommand
        ->add_option("--voice-command-timeout", options.voiceCommandTimeout,
                     "Seconds the voice command may take for one chunk, a decimal number 1 to "
                     "86400 (default 600); then its processes are ended and the conversion fails")
        ->type_name("SECONDS")
        ->transform(decimalNumber(1, 86400, false,
                                  "the timeout is a decimal number of seconds from 1 to 86400"));
}

void declareWhereOptions(CLI::App* convertCommand, ConvertOptions& options) {
    convertCommand
        ->add_option("-e,--engine", options.engine,
                     "Voice: display name, any letter case, or id; empty: the default voice")
        ->type_name("VOICE");
    convertCommand
        ->add_option("--dialogue-voice", options.dialogueVoice,
                     "Voice of what characters say (quoted speech and dialogue dashes), named as "
                     "-e names one; the narration stays with the main voice")
        ->type_name("VOICE");
    declareVoiceCommand(convertCommand, options);
    convertCommand
        ->add_option("-f,--format", options.formatCode,
                     "SAPI 5 PCM format code, a decimal number 4 to 39 (18: 16 kHz, 22: 22.05 kHz "
                     "16-bit mono); default: 16 kHz for engine names with \"16\" and \"ATT\" or "
                     "\"VW Kate\"/\"VW Paul\", else 22.05 kHz")
        ->transform(decimalNumber(4, 39, false, "a format code is a decimal number from 4 to 39"));
    convertCommand
        ->add_option(
            "-o,--output", options.output,
            "Output file of the one INPUT (default: INPUT with .wav, or the ending of --type); " +
                endingsChoosingContainers() +
                " choose those containers. -: standard output. A link is "
                "written through; a device is written into; a FIFO, like standard output, gets a "
                "stream (AU unless --type says otherwise)")
        ->type_name("FILE");
    convertCommand
        ->add_option("-d,--directory", options.folder,
                     "Folder for the outputs, made if missing: each under its "
                     "input's name with .wav or the ending of --type (stdin.wav for "
                     "standard input)")
        ->type_name("FOLDER");
    // CLI11 would show its map's numbers as the option's type: the names alone are shown.
    std::map<std::string, Container> types;
    std::vector<std::string> typeNames;
    std::vector<std::string> unstreamable;
    for (const ContainerRow& row : containerRows()) {
        types.emplace(row.typeName, row.container);
        typeNames.emplace_back(row.typeName);
        if (!row.streamable)
            unstreamable.emplace_back(row.typeName);
    }
    typeNames.emplace_back(readAlongTypeName);
    convertCommand
        ->add_option_function<std::string>(
            "--type",
            [&options, types](const std::string& name) {
                const std::string lower = asciiLower(name);
                options.readAlongType = lower == readAlongTypeName;
                if (!options.readAlongType)
                    options.type = types.at(lower);
            },
            "File type, whatever OUT's ending: " + listedAs(typeNames, "or") +
                " (raw: 16-bit little-endian PCM, no header; epub: a read-along book, an EPUB 3 "
                "of INPUT with its narration in audio files (--read-along-audio), each sentence "
                "highlighted as it is read). All but " +
                listedAs(unstreamable, "and") + " and epub can be streamed")
        ->type_name(CLI::detail::join(typeNames, "|"))
        ->check(CLI::IsMember(typeNames, CLI::ignore_case).description(""));
    const std::map<std::string, Container> readAlongAudio = {
        {"mp3", Container::Mp3}, {"aac", Container::M4b}, {"opus", Container::OggOpus}};
    convertCommand
        ->add_option("--read-along-audio", options.readAlongAudio,
                     "Audio files of a read-along book (--type epub): mp3 (the default), aac "
                     "(AAC in MP4, as --bitrate sets for M4B) or opus (a type EPUB 3.3 has, "
                     "not EPUB 3.2)")
        ->type_name("mp3|aac|opus")
        ->transform(CLI::CheckedTransformer(readAlongAudio, CLI::ignore_case).description(""));
    convertCommand
        ->add_option("--bitrate", options.bitrateKbps,
                     "AAC bit rate of an M4B file in kb/s, a decimal number 8 to 320 (default "
                     "64, 48 at 8 kHz); at most 6 per 1000 Hz of the rate (132 at 22.05 kHz). "
                     "For an MP3 file at 32 kHz and up: a constant bit rate, 32 to 320")
        ->type_name("KBPS")
        ->transform(
            decimalNumber(8, 320, false, "the bit rate is a decimal number of kb/s from 8 to 320"));
}

// What the inputs are read as, and what a document's reader leaves out.
void declareInputChoices(CLI::App* convertCommand, ConvertOptions& options) {
    std::map<std::string, InputKind> kinds;
    std::vector<std::string> kindNames;
    std::vector<std::string> endings;
    for (const InputKindRow& row : inputKindRows()) {
        kinds.emplace(row.typeName, row.kind);
        kindNames.emplace_back(row.typeName);
        for (const std::string_view ending : row.endings)
            endings.emplace_back(ending);
    }
    convertCommand
        ->add_option(
            "--input-type", options.inputType,
            "Read every INPUT as " + listedAs(kindNames, "or") +
                "; default: by content (an EPUB's, a Word document's or an OpenDocument "
                "text's zip, SSML's <speak>, an HTML doctype or <html>), then by ending (" +
                listedAs(endings, "and") + "), else plain text; a .txt file is always plain text")
        ->type_name(CLI::detail::join(kindNames, "|"))
        ->transform(CLI::CheckedTransformer(kinds, CLI::ignore_case).description(""));
    const std::tuple<const char*, bool*, const char*> reads[] = {
        {"--read-alt", &options.documentChoices.readAlt,
         "Read images' alternative text in EPUB, HTML, Markdown, Word and OpenDocument"},
        {"--read-notes", &options.documentChoices.readNotes,
         "Read footnotes and endnotes, and the marks that refer to them, in EPUB, HTML and "
         "Markdown, and notes and comments, each after its paragraph, in Word and OpenDocument"},
        {"--read-code", &options.documentChoices.readCode, "Read Markdown's code blocks"}};
    for (const auto& [name, flag, what] : reads)
        convertCommand->add_flag(
            name, *flag, std::string(what) + " (left out otherwise); not with plain text or SSML");
}

void declareRenderingOptions(CLI::App* convertCommand, ConvertOptions& options) {
    const std::string jobsLimit = std::to_string(maximumJobs());
    convertCommand
        ->add_option("-j,--jobs", options.jobs,
                     "Worker processes rendering side by side, a decimal number; the file is the "
                     "same for any number. At most 4 per core (" +
                         jobsLimit + " here): more is taken as " + jobsLimit +
                         "; never more than the text has chunks. With several inputs, shared "
                         "among the files converted at once. 0 is taken as 1")
        ->capture_default_str()
        ->transform(decimalNumber(0, maximumJobs(), true,
                                  "the number of jobs is a decimal number, 0 or more"));
    VoiceControls& controls = options.controls;
    const auto addPercent = [&](const char* name, int& percent, PercentRange range,
                                const std::string& what, const std::string& help,
                                const std::string& helpAfter) {
        const std::string span =
            std::to_string(range.lowest) + " to " + std::to_string(range.highest);
        const auto lowest = static_cast<unsigned long>(range.lowest);
        const auto highest = static_cast<unsigned long>(range.highest);
        convertCommand->add_option(name, percent, help + ", a decimal number " + span + helpAfter)
            ->transform(decimalNumber(lowest, highest, false,
                                      "the " + what + " is a decimal number from " + span));
    };
    addPercent("--rate", controls.ratePercent, rateRange, "rate",
               "Speed in percent of the voice's own", "");
    addPercent("--pitch", controls.pitchPercent, pitchRange, "pitch",
               "Pitch in percent of the voice's own", "");
    addPercent("--volume", controls.volumePercent, volumeRange, "volume", "Loudness in percent",
               ": a gain on the samples; samples that would clip are limited, and counted in "
               "the summary");
    const std::string pauseLimit = std::to_string(maximumPauseMs);
    const auto addPause = [&](const char* name, std::optional<int>& pause, const char* between) {
        convertCommand
            ->add_option(name, pause,
                         std::string("Silence between ") + between +
                             ", in milliseconds, a decimal number 0 to " + pauseLimit +
                             "; it replaces the voice's own pause")
            ->transform(decimalNumber(0, maximumPauseMs, false,
                                      "a pause is a decimal number of milliseconds from 0 to " +
                                          pauseLimit));
    };
    addPause("--sentence-pause", controls.sentencePauseMs, "two sentences of a paragraph");
    addPause("--paragraph-pause", controls.paragraphPauseMs,
             "two paragraphs (a blank line ends one)");
    // One file each time (a list of values would swallow the INPUT after it), as many
    // times as wanted.
    convertCommand
        ->add_option("--lexicon", options.lexicons,
                     "Pronunciation list, a UTF-8 file of lines \"word = replacement\" or "
                     "\"/pattern/ = replacement\"; one file each time, given again for more, "
                     "later files winning")
        ->type_name("FILE")
        ->allow_extra_args(false);
    convertCommand->add_flag("--ssml", controls.ssml,
                             "The input is SSML 1.1 markup: --input-type ssml");
    declareInputChoices(convertCommand, options);
}

// Which chapters are rendered, and the silence before each; both imply --chapters.
void declareChapterChoices(CLI::App* convertCommand, ConvertOptions& options) {
    convertCommand
        ->add_option("--chapters-only", options.chaptersOnly,
                     "Render only these chapters: 3, 2-5, 1,4,7- (0: the text before the first "
                     "heading); the timings, cue sheet, subtitles and files keep the book's "
                     "numbers. One the text lacks is skipped; none of them fails. Implies "
                     "--chapters")
        ->type_name("RANGE")
        ->check(CLI::Validator(
            [](const std::string& value) -> std::string {
                try {
                    ChapterSelection::parse(value);
                    return {};
                } catch (const std::invalid_argument& failure) {
                    return quotedName(value) + " is not accepted: " + failure.what();
                }
            },
            ""));
    const std::string pauseLimit = std::to_string(maximumPauseMs);
    convertCommand
        ->add_option("--chapter-pause", options.chapterPauseMs,
                     "Silence before each chapter's heading, in milliseconds, a decimal number 0 "
                     "to " +
                         pauseLimit +
                         ": it ends the chapter before (none at the start of the sound); "
                         "default for EPUB, HTML and Markdown 1500. Implies --chapters")
        ->transform(
            decimalNumber(0, maximumPauseMs, false,
                          "a pause is a decimal number of milliseconds from 0 to " + pauseLimit));
}

// The tags and the cover, each said of the containers that hold them as the table has it.
void declareTagOptions(CLI::App* convertCommand, ConvertOptions& options) {
    const std::string latin1Streams =
        namesWhere([](const ContainerRow& row) { return row.streamTags == StreamTags::Latin1; },
                   &ContainerRow::name, "or");
    const std::string tagless = namesWhere([](const ContainerRow& row) { return !row.holdsTags; },
                                           &ContainerRow::name, "or");
    const std::pair<const char*, std::optional<std::string>*> tagOptions[] = {
        {"--title", &options.tags.title}, {"--artist", &options.tags.artist},
        {"--album", &options.tags.album}, {"--genre", &options.tags.genre},
        {"--date", &options.tags.date},   {"--comment", &options.tags.comment},
        {"--track", &options.tags.track}};
    for (const auto& [name, tag] : tagOptions)
        convertCommand->add_option(
            name, *tag,
            "Tag written into the file (UTF-8; an " + latin1Streams +
                " stream: Latin-1 only), with software \"kestrova-wav-cli " KESTROVA_VERSION
                "\"; not in " +
                tagless);
    convertCommand
        ->add_option("--cover", options.cover,
                     "JPEG or PNG picture (known by its bytes, at most 8 MiB) written "
                     "into the file as its front cover: " +
                         namesWhere(&ContainerRow::holdsCover, &ContainerRow::name, "and") +
                         "; a file only, not a stream")
        ->type_name("FILE");
}

void declareFileOptions(CLI::App* convertCommand, ConvertOptions& options) {
    convertCommand->add_flag("-n,--no-clobber", options.noClobber,
                             "Fail rather than replace an existing output file");
    convertCommand->add_flag("--no-resume", options.noResume,
                             "Keep no rendered chunks beside the output (by default they are "
                             "kept in .NAME.kestrova-resume until it is complete, and the same "
                             "command started again after a crash or a stop takes them)");
    convertCommand->add_flag("-q,--quiet", options.quiet, "No progress bar and no summary");
    convertCommand
        ->add_option("--progress", options.progress,
                     "bar: a bar with the speed (times real time) and the time left, the default "
                     "on a terminal; json: one JSON line a second on standard error, even with -q")
        ->type_name("bar|json")
        ->check(CLI::IsMember({"bar", "json"}).description(""));
    declareTagOptions(convertCommand, options);
    convertCommand
        ->add_option(
            "--timings", options.timings,
            "Write where each sentence lands to this JSON file: its text, its bytes in the input, "
            "paragraph, chapter, first and last sample (and seconds), and the marks of markup. "
            "Each sentence is then rendered in a call of its own")
        ->type_name("FILE");
    convertCommand
        ->add_option(
            "--subtitles", options.subtitles,
            "Write subtitles, one cue per sentence (a long one in several), to this file: .srt, "
            ".vtt (WebVTT) or .lrc by its ending")
        ->type_name("FILE");
    convertCommand->add_flag(
        "--chapters", options.chapters,
        "Find chapters: a chapter starts at a heading, a paragraph of one line that begins with "
        "Chapter, CHAPTER, Part, Book, Prologue, Epilogue or # (or matches --chapter-pattern); "
        "in " +
            namesWhere(&ContainerRow::holdsCuePoints, &ContainerRow::namedInSentence, "or") +
            " each heading becomes a cue point; " +
            namesWhere(&ContainerRow::holdsChapters, &ContainerRow::name, "and") +
            " files hold the chapters inside (not streams)");
    convertCommand->add_option("--chapter-pattern", options.chapterPattern,
                               "A PCRE2 pattern for the headings, instead of the words above; "
                               "implies --chapters");
    convertCommand
        ->add_option("--cue-sheet", options.cueSheet,
                     "Write a cue sheet with one track per chapter to this .cue file; "
                     "implies --chapters")
        ->type_name("FILE");
    convertCommand->add_flag(
        "--split-chapters", options.splitChapters,
        "One file per chapter instead of one file: NAME-NN-Title.EXT beside OUT, each titled "
        "with its heading (the text before the first heading: NN 00); implies --chapters");
    declareChapterChoices(convertCommand, options);
    convertCommand
        ->add_option("INPUT", options.inputs,
                     "Files to read (never deleted): plain text, SSML, EPUB, HTML, Markdown, Word "
                     "(.docx) or OpenDocument text (.odt) "
                     "(see --input-type); -: standard input. A book's chapters, title, author "
                     "and language are its own. Each failure is one line, and the others go on")
        ->type_name("FILE")
        ->required();
}
} // namespace

void declareConvertOptions(CLI::App* convertCommand, ConvertOptions& options) {
    declareWhereOptions(convertCommand, options);
    declareRenderingOptions(convertCommand, options);
    declareLoudnessOptions(convertCommand, options);
    declareFileOptions(convertCommand, options);
}

} // namespace kestrova::cli
