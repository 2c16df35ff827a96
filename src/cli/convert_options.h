#pragma once

#include "speech/audio_format.h"
#include "speech/converter.h"
#include "speech/input_kinds.h"
#include "speech/sound_tags.h"
#include "speech/voice_controls.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova::cli {

// A usage error, found before anything is read or written: status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* standardInputName = "-";

// What "convert" was asked, as its options (command_line.cpp) fill it in.
struct ConvertOptions {
    std::string engine;
    // The voice of characters' quoted speech, named as -e names one; empty: the voice's own.
    std::string dialogueVoice;
    // A program of the user's as the voice, instead of -e: the command line, what the voice is
    // called, the rate of its raw samples (none: it writes WAV) and its time for one chunk.
    std::string voiceCommand;
    std::string voiceName;
    std::optional<int> voiceCommandRate;
    std::optional<int> voiceCommandTimeout;
    std::optional<int> formatCode;
    std::string output;
    std::string folder;
    std::optional<speech::Container> type;
    // --type epub: a read-along book (an EPUB ending of -o asks for one too).
    bool readAlongType = false;
    // The audio files of a read-along book: MP3, AAC in MP4 or Opus; none: MP3.
    std::optional<speech::Container> readAlongAudio;
    std::optional<int> bitrateKbps; // M4B's AAC bit rate
    std::vector<std::string> inputs;
    // What every input is read as; none: each file's content and name choose (--ssml too
    // sets controls.ssml).
    std::optional<speech::InputKind> inputType;
    speech::DocumentChoices documentChoices; // --read-alt, --read-notes, --read-code
    unsigned jobs = speech::defaultJobs();
    bool noClobber = false;
    bool noResume = false;
    bool quiet = false;
    // "bar" on a terminal (the default there), "json": lines on standard error for front ends.
    std::string progress;
    speech::SoundTags tags;
    std::string cover; // JPEG or PNG file; read into tags.cover when the requests are made
    speech::VoiceControls controls;
    std::vector<std::string> lexicons;
    std::string timings;   // JSON file of where each sentence lands
    std::string subtitles; // .srt, .vtt or .lrc
    bool chapters = false;
    std::optional<std::string> chapterPattern;
    std::string cueSheet;
    bool splitChapters = false;
    std::optional<std::string> chaptersOnly; // checked by ChapterSelection::parse when given
    std::optional<int> chapterPauseMs;
    speech::LoudnessControl loudness; // --loudness, --true-peak, --measure
    std::optional<int> leadInMs;      // --lead-in
    std::optional<int> tailMs;        // --tail
    // The presets: each fills in what the options above leave unset.
    bool audiobook = false;
    bool acx = false;

    bool findsChapters() const {
        return chapters || chapterPattern || !cueSheet.empty() || splitChapters || chaptersOnly ||
               chapterPauseMs;
    }
    bool toStandardOutput() const { return output == "-"; }
    // An EPUB 3 book with its narration, by --type epub or -o's ending.
    bool writesReadAlongBook() const;
    // The container of a read-along book's audio files.
    speech::Container readAlongAudioContainer() const {
        return readAlongAudio.value_or(speech::Container::Mp3);
    }
    // SSML named by --ssml or --input-type.
    bool namesSsml() const { return controls.ssml || inputType == speech::InputKind::Ssml; }

    // --audiobook and --acx: the options they stand for, where not given; then validate().
    void applyPreset();
    // Every rule of usage that can be settled before anything is read: throws UsageError, or
    // RequestRefused for a rule of the request itself.
    void validate() const;
};

// What --acx aims at and checks each file against: an audiobook store's requirements for
// its MP3 files.
struct AcxRules {
    static constexpr int formatCode = 34; // 44.1 kHz 16-bit mono
    static constexpr int bitrateKbps = 192;
    static constexpr double lowestRmsDb = -23;
    static constexpr double highestRmsDb = -18;
    static constexpr double highestPeakDb = -3;
    // Inside the room tone's ranges by a margin: an MP3 decoder spreads a sound's onset a
    // little into the silence before it, and its end into the silence after.
    static constexpr int leadInMs = 600;
    static constexpr int tailMs = 1500;
    // Room tone at each end of a file, in seconds.
    static constexpr double shortestHead = 0.5, longestHead = 1, shortestTail = 1, longestTail = 5;
};

} // namespace kestrova::cli
