#include "conversion_run.h"

#include "format_rule.h"
#include "hand_off.h"
#include "speech/file_failures.h"
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
        if (!waveFile.empty()) {
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
            desktop.deleteFile(FileToOpen);
        }
    } catch (const speech::ConversionCancelled&) {
        status = ExitSuccess; // the user closed the window: a wish, not a failure
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
