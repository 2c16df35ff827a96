#pragma once

#include "speech/audio_format.h"
#include "speech/converter.h"
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
    std::optional<int> formatCode;
    std::string output;
    std::string folder;
    std::optional<speech::Container> type;
    std::vector<std::string> inputs;
    unsigned jobs = speech::defaultJobs();
    bool noClobber = false;
    bool quiet = false;
    speech::SoundTags tags;
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

    bool findsChapters() const {
        return chapters || chapterPattern || !cueSheet.empty() || splitChapters || chaptersOnly ||
               chapterPauseMs;
    }
    bool toStandardOutput() const { return output == "-"; }

    // Every rule of usage that can be settled before anything is read: throws UsageError.
    void validate() const;
};

} // namespace kestrova::cli
