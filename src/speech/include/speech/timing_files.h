#pragma once

#include "speech/audio_format.h"
#include "speech/sound_tags.h"
#include "speech/speech_timings.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::speech {

// The text files written beside the sound from its timings: a JSON document of them,
// subtitles and a cue sheet. Each is made whole as a string, then written with writeTextFile.

// The timings as JSON: sample_rate, frames, seconds, sound_file, then "sentences" (text,
// start_byte and end_byte or null, for a structured document source (the file of those
// bytes), paragraph, chapter, first_sample, last_sample,
// start_seconds, end_seconds), "chapters" (number, title, start_sample, heading_sample,
// end_sample and the three in seconds) and "marks" (name, sample, seconds). An end in seconds
// is where the last sample ends; seconds have six decimals, enough to find the sample.
// sound_file is null when there is no file to name (the sound went to standard output, or
// into one file per chapter); with chapterFileNames, one per chapter, each chapter names its
// own file as "sound_file" after its other members.
std::string timingsJson(const SpeechTimings& timings,
                        const std::optional<std::string>& soundFileName,
                        const std::vector<std::string>& chapterFileNames = {});

enum class SubtitleKind { SubRip, WebVtt, Lrc };

// By the path's ending, in any letter case: ".srt", ".vtt" or ".lrc". Throws FileError naming
// the file for any other.
SubtitleKind subtitleKindForPath(const std::filesystem::path& path);

// Whether WebVTT cues say which voice speaks: with Named, each line of a sentence whose
// timings give its parts holds each part's words in a voice span, <v id>words</v>, the id as
// -e names the voice (a cue cut from a long sentence has the voices of its words). SubRip
// and LRC have no voice markup, and a name written into their text would be shown on screen
// before every line: they stay as they are either way.
enum class SubtitleVoices { Unnamed, Named };

// One cue per sentence that has text, from its first sample to the end of its last. A
// sentence longer than two lines of 42 characters is split between words into cues of at
// most two such lines, sharing its time in proportion to their characters. Times are rounded
// to the format's unit so that every cue ends after it starts and before the next begins.
std::string subtitles(const SpeechTimings& timings, SubtitleKind kind,
                      SubtitleVoices voices = SubtitleVoices::Unnamed);

// A cue sheet naming the sound file (as seen from the cue sheet's folder): TITLE and
// PERFORMER from the tags' title and artist, one track per chapter with INDEX 01 at the
// first cue frame (1/75 s) of its heading. The text before the first heading, when it has
// any sound, is the first track, at the start, titled with the tags' title or "Opening".
// Throws SpeechError for more than 99 tracks, for raw PCM (no player can read it through a
// cue sheet) and for a file name a cue sheet cannot hold (a double quote or a line break).
std::string cueSheet(const SpeechTimings& timings, const std::string& soundFileName,
                     Container container, const SoundTags& tags);

// What cueSheet() refuses, known before anything is rendered. Throws SpeechError for raw PCM
// and for a sound file name a cue sheet cannot hold.
void checkCueSheetSound(const std::string& soundFileName, Container container);
// Throws SpeechError when these chapters (as ChapterPlan gives them) make more than 99 tracks.
void checkCueSheetTracks(const std::vector<ChapterTiming>& chapters);

// Writes content to path as the sound file is written: a new file appears only when whole,
// a regular file is replaced keeping its mode (and owner where allowed), a link is written
// through, a character device is written into; anything else, a dangling link included, is
// refused. Without replaceExisting an existing file is left alone and the call fails.
// Throws FileError: "cannot write the FILEKIND "PATH": REASON", fileKind as "subtitle file".
void writeTextFile(const std::filesystem::path& path, std::string_view content,
                   std::string_view fileKind, bool replaceExisting, bool syncToDisk = false);

// What writeTextFile would refuse that can be known before anything is written: a file
// already there without replaceExisting, a dangling link, a folder, a missing folder.
void checkTextFilePath(const std::filesystem::path& path, std::string_view fileKind,
                       bool replaceExisting);

} // namespace kestrova::speech
