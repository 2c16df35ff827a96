#pragma once

#include "speech/audio_format.h"
#include "speech/chapter_selection.h"
#include "speech/file_identity.h"
#include "speech/input_kinds.h"
#include "speech/sound_tags.h"
#include "speech/speech_timings.h"
#include "speech/text_encoding.h"
#include "speech/voice.h"
#include "speech/voice_controls.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::speech {

class Lexicon;

// One worker per core.
unsigned defaultJobs();
// The most workers a conversion starts, 4 per core: more only crowd the cores and the memory.
// A request for more is taken as this many.
unsigned maximumJobs();

// The loudness of the whole sound (EBU R 128 integrated loudness, libebur128) and a ceiling
// on its true peak.
struct LoudnessControl {
    // One gain for the whole sound brings it to this many LUFS; none: the sound's own level.
    std::optional<double> targetLufs = std::nullopt;
    // The ceiling, where one applies: with a target, when given, and always for a lossy
    // container (whose decoder would clip a peak near full scale). None: -1 dBTP. Without a
    // target the limiter works as the sound is written, with no second pass.
    std::optional<double> truePeakDbtp = std::nullopt;
    // Measured and reported, the samples as they would be without it.
    bool measure = false;

    bool changesLevel() const { return targetLufs || truePeakDbtp; }
};

inline constexpr double defaultTruePeakDbtp = -1.0;
// A target's gain stops where the sound's true peak would pass the ceiling by this much
// before the limiter: speech limited harder loses its shape for little more loudness.
inline constexpr double mostLimitingDb = 8.0;

struct LoudnessMeasure {
    double integratedLufs = 0; // -inf for a sound with nothing audible
    double truePeakDbtp = 0;   // -inf for silence
};

struct LoudnessReport {
    // Of the rendered sound: with a target, or measure asked for.
    std::optional<LoudnessMeasure> before = std::nullopt;
    // Of the samples written, when they were changed and measured (before a lossy encoder).
    std::optional<LoudnessMeasure> after = std::nullopt;
    double gainDb = 0;
    double ceilingDbtp = defaultTruePeakDbtp;
    // Samples the true-peak limiter lowered below the gain, and the runs of them.
    std::uint64_t limitedSamples = 0;
    std::uint64_t limitedStretches = 0;
    // The target needed more gain than mostLimitingDb of limiting allows: the sound is short
    // of it.
    bool targetOutOfReach = false;
    // A lossy encoder's change of the loudness, made up in the samples given to it (after
    // measures those): the file decodes this much away from after. 0 where it is within a
    // twentieth of a LU.
    double encoderChangeLu = 0;
};

// The text and how it is read.
struct InputSettings {
    std::filesystem::path path;
    // What the input is read as: plain text unless told (controls.ssml also reads SSML).
    InputKind kind = InputKind::Text;
    // What a structured document's reader leaves out.
    DocumentChoices documentChoices;
    TextEncoding encoding = TextEncoding::Automatic;
    std::uint64_t firstCharacter = 0;            // characters skipped before rendering
    std::optional<std::uint64_t> characterCount; // characters rendered; none: to the end
};

// The sound and how it is written.
struct OutputSettings {
    std::filesystem::path path;
    // The sound goes to standard output; path then only names it in messages.
    bool toStandardOutput = false;
    AudioFormat format;
    // None: chosen by the output file's ending; for standard output or a FIFO, AU unless
    // the ending names another container that can be streamed.
    std::optional<Container> container;
    // The AAC bit rate of an M4B file, in kb/s; none: 64, or at 8 kHz the most AAC carries.
    // For an MP3 file: a constant bit rate (LAME's own variable rate without it).
    std::optional<int> bitrateKbps;
    bool replaceExisting = true;
    bool syncToDisk = true;
    // Rendered chunks are kept in a hidden folder beside the output until it is complete, so
    // that the same conversion started again after a crash, a failure or a stop renders only
    // what is missing. Only for a file, not for standard output.
    bool resume = false;
    // The file the kept chunks are named after and stay beside until its writer removes them;
    // empty: the output, whose conversion removes them once it is complete. A read-along
    // book's narration is one step of the book: its chunks stay until the book is written.
    std::filesystem::path keptBeside;
    // Written into the file; a container that cannot hold them fails before rendering.
    SoundTags tags;
    // Where tags.cover was read from: checked with the other paths, never written over.
    std::filesystem::path coverFile;
};

// The voice, how it speaks and how it is rendered.
struct SpeechSettings {
    Voice voice;
    // The voice of what characters say (quoted speech) in plain text and structured
    // documents; none: the voice reads it as narration.
    std::optional<Voice> dialogueVoice = std::nullopt;
    // Why the voice is the one it is, when something other than the asker chose it (a book's
    // language, say), for messages; empty: as asked.
    std::string voiceChoice;
    // How the text is spoken; the defaults leave the sound as the voice gives it. With markup
    // the character window of the input is not used: the whole document is read.
    VoiceControls controls;
    // The lexicon of controls.lexicons, loaded once for every file of a batch: a FIFO or a
    // pipe gives its entries only once. None: loaded here.
    std::shared_ptr<const Lexicon> lexicon;
    // Where voice names in markup are looked up; none: the voices are discovered when markup
    // names one.
    const VoiceRegistry* voices = nullptr;
    // Worker processes rendering side by side, at most maximumJobs() and never more than
    // there are chunks; 0 renders in this process.
    unsigned jobs = defaultJobs();
};

// Where sentences and chapters land, and the chapters rendered.
struct ChapterSettings {
    // Where each sentence lands, in the result's timings. Each sentence is then a chunk of its
    // own, rendered in a call of its own, so the engine's pause between two sentences is the
    // silence it ends one with and begins the next with (with a sentence pause set, the sound
    // is the same as without timings).
    bool recordTimings = false;
    // Chapters, found in plain text at one-line paragraphs this PCRE2 pattern matches (see
    // defaultChapterPattern), given in the timings and as cue points where the container holds
    // them; none: no chapters. Implies the timings. A structured document always has its own
    // chapters, and this pattern is not used for it.
    std::optional<std::string> pattern;
    // With chapters: one file per chapter, at chapterFilePath(output, number, title), instead
    // of one file at the output's path. Files only: not a device or a stream.
    bool split = false;
    // With chapters: only these are rendered; the others are read for their numbers, no more.
    // The timings, cue points and files keep the book's numbers. A selection naming none of
    // the text's chapters fails before anything is rendered.
    ChapterSelection selection;
    // With chapters: exactly this much silence before each heading, at the end of the chapter
    // before it (none before the first sound of the conversion); none: as without chapters,
    // but defaultDocumentChapterPauseMs for a structured document.
    std::optional<int> pauseMs;
};

// The level of the whole sound and the silence around it.
struct MasteringSettings {
    // With a target the rendered samples are kept in a spool (SampleSpool) and written in a
    // second pass: the timings and chapters keep their frames.
    LoudnessControl loudness = {};
    // Digital silence before the first sound and after the last, in milliseconds; split, at
    // the start of the first file and the end of the last, or with roomTonePerFile at both
    // ends of every chapter's file. The timings and chapters move with it; the first chapter
    // still begins at frame 0, where the silence begins.
    int leadInMs = 0;
    int tailMs = 0;
    bool roomTonePerFile = false;
};

// Who is told what, as the conversion goes.
struct ConversionCallbacks {
    // Called with the seconds of sound written so far, after each chunk, on the converting
    // thread; none: nobody is told.
    std::function<void(double)> soundWritten;
    // Told about what markup holds that is read as plain text; none: nobody is told.
    std::function<void(const std::string&)> warning;
};

struct ConversionRequest {
    InputSettings input = {};
    OutputSettings output = {};
    SpeechSettings speech = {};
    ChapterSettings chapters = {};
    MasteringSettings mastering = {};
    ConversionCallbacks callbacks = {};
};

struct ConversionResult {
    std::uint64_t frames = 0;
    double seconds = 0;
    // The format written: the one asked for, but Opus at the next rate it has
    // (writtenFormat).
    AudioFormat format;
    // The text file as it was when it was opened for the conversion.
    FileIdentity textFile;
    // False when the sound went into a device or a stream rather than a file.
    bool wroteFile = true;
    // Samples the volume would have carried past full scale, limited to it.
    std::uint64_t limitedSamples = 0;
    // With timings or chapters asked for: where each sentence and chapter lands. The marks of
    // markup, each with the frame it stands at, are there whatever was asked for.
    SpeechTimings timings;
    // With split chapters: the files written, in order.
    std::vector<std::filesystem::path> chapterFiles;
    // Whenever the loudness was measured: asked for, or a lossy container's ceiling checked.
    std::optional<LoudnessReport> loudness = std::nullopt;
    // The chunks the sound was made of, and how many of them an earlier run had kept.
    std::size_t chunks = 0;
    std::size_t keptChunks = 0;
};

// The chapters a conversion will find, known before anything is rendered by reading the text
// as the conversion reads it (planConversion, conversion_plan.h).
struct ChapterPlan {
    // In reading order, number and title: chapter 0 first when text comes before the first
    // heading. Empty without chapters, and for markup. A structured document's chapters
    // without any text to speak are not among them.
    std::vector<ChapterTiming> chapters;
    // Headings the whole text has, selected or not (a structured document: its chapters).
    unsigned headings = 0;
    // A structured document's characters to be spoken, of the chapters selected; 0 otherwise.
    std::uint64_t characters = 0;
    // With split chapters, the file of each chapter, in order (one file for a text without
    // any sound).
    std::vector<std::filesystem::path> files;
};

// Throws SpeechError, with PCRE2's own words, for a chapter pattern it refuses.
void checkChapterPattern(std::string_view pattern);

// Called with the fraction of the text rendered so far, 0 to 1, on the converting thread.
using ProgressCallback = std::function<void(double)>;

// Renders a text file into a sound file. Before anything is rendered, the paths it reads and
// writes are checked as ConversionPaths does (PathClash), and without replaceExisting every
// file it would replace is refused. The output appears at its path only when it is complete; on any
// failure, cancellation included, nothing is left behind and a file that was already there is
// untouched. What the path may be, and what happens with links, devices and FIFOs there, is
// OutputTarget's. Failures are thrown as SpeechError, whose message names the file and the reason;
// a set cancel flag, checked between chunks, as ConversionCancelled.
ConversionResult convertTextFile(const ConversionRequest& request,
                                 const ProgressCallback& progress = {},
                                 const std::atomic<bool>* cancel = nullptr);

} // namespace kestrova::speech
