#include "conversion_run.h"

#include "format_rule.h"
#include "hand_off.h"
#include "speech/file_failures.h"
#include "speech/file_identity.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text_to_speech.h"

#include <stdexcept>

namespace kestrova::app {
namespace {

using speech::TextToSpeech;

// The fixed arguments of ConvertTextFileToWave: the whole text, its encoding detected,
// replacing a file the user chose to replace, flushed to disk, returning when complete.
constexpr int fromFirstCharacter = 0;
constexpr int detectEncoding = 2;
constexpr int toTheEnd = -1;
constexpr int replaceAndSync = TextToSpeech::ReplaceExisting | TextToSpeech::SyncToDisk;
constexpr int waitUntilComplete = 1;

// Deletes the text file only if it is the one that was converted, as it was then: a newer
// file written at its path meanwhile has never been converted, and is kept with a message
// saying why. A rendering into a device rather than a file leaves no wave file to show for
// the text, which is kept too.
void deleteConvertedText(const std::string& textFile, SpeechControl& speech, Desktop& desktop) {
    const std::optional<speech::ConversionResult> converted = speech.lastConversion();
    if (!converted || !converted->wroteFile)
        return;
    const std::optional<speech::FileIdentity> now = speech::FileIdentity::ofPath(textFile);
    if (now && *now != converted->textFile)
        throw std::runtime_error("kept the text file " + speech::quotedName(textFile) + ": " +
                                 (now->sameFile(converted->textFile)
                                      ? "it was changed after it was converted"
                                      : "another file took its place after it was "
                                        "converted"));
    desktop.deleteFile(textFile);
}

// Restores the default pointer however the rendering ends.
class BusyPointer {
public:
    explicit BusyPointer(Desktop& desktop) : desktop_(desktop) { desktop_.setBusyPointer(true); }
    ~BusyPointer() { release(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
    void release() {
        if (busy_)
            desktop_.setBusyPointer(false);
        busy_ = false;
    }

private:
    Desktop& desktop_;
    bool busy_ = true;
};

} // namespace

ExitStatus ConvertToWave(const std::string& EngineName, const std::string& FileToOpen,
                         ConversionPlatform& platform) {
    Desktop& desktop = platform.desktop;
    ExitStatus status = ExitSuccess;
    try {
        const std::string waveFile = desktop.askSavePath(std::string(saveFilter));
        if (!waveFile.empty() && !desktop.stopRequested()) {
            // Checked before the window shows: the run deletes the text file at the end.
            speech::refuseOutputOverInput(FileToOpen, waveFile);
            platform.speech.SetEngineProperty(TextToSpeech::engineNameProperty, EngineName);
            platform.window.show();
            BusyPointer busy(desktop);
            desktop.processPendingEvents();
            const int formatCode = formatCodeForEngine(EngineName);
            platform.speech.ConvertTextFileToWave(FileToOpen, fromFirstCharacter, detectEncoding,
                                                  toTheEnd, waveFile, replaceAndSync, formatCode,
                                                  waitUntilComplete);
            busy.release();
            desktop.showMessage(std::string(completionMessage), std::string(applicationTitle));
            // A stop signal closed the message: the user never confirmed, the text stays.
            if (!desktop.stopRequested())
                deleteConvertedText(FileToOpen, platform.speech, desktop);
        }
    } catch (const speech::ConversionCancelled&) {
        // The user closed the window: a wish, not a failure. A stop signal's status is the
        // caller's to give.
        status = ExitSuccess;
    } catch (const std::exception& failure) {
        desktop.showFailure(failure.what(), std::string(applicationTitle));
        status = ExitFailure;
    }
    platform.window.close();
    return status;
}

ExitStatus launchHandOff(std::string_view handOff, ConversionPlatform& platform) {
    const std::optional<HandOff> fields = parseHandOff(handOff);
    if (!fields) {
        platform.desktop.showMessage(std::string(refusalMessage), std::string(refusalTitle));
        platform.window.close();
        return ExitRefused;
    }
    return ConvertToWave(fields->EngineName, fields->FileToOpen, platform);
}

} // namespace kestrova::app
