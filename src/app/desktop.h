#pragma once

#include "speech/converter.h"

#include <optional>
#include <string>

namespace kestrova::app {

// The desktop services the program's logic uses; the platform layer provides them.
class Desktop {
public:
    virtual ~Desktop() = default;

    // A message box with an OK button only and no icon; returns once it is dismissed.
    virtual void showMessage(const std::string& text, const std::string& title) = 0;
    // A critical message box for a failure; the text is also written to standard error.
    virtual void showFailure(const std::string& text, const std::string& title) = 0;
    // The modal Save dialog with one filter entry, "description (pattern)"; returns the
    // chosen path exactly as given, or an empty string when the user cancelled.
    virtual std::string askSavePath(const std::string& filter) = 0;
    // The application-wide busy pointer on or off.
    virtual void setBusyPointer(bool busy) = 0;
    // Handles the window events waiting in the queue, once.
    virtual void processPendingEvents() = 0;
    // Throws std::runtime_error with a message naming the file and the reason.
    virtual void deleteFile(const std::string& path) = 0;
    // True once a stop signal (SIGINT, SIGTERM, SIGHUP) has asked the program to end.
    virtual bool stopRequested() const = 0;
};

// The notice shown while the text is rendered.
class ConversionWindow {
public:
    virtual ~ConversionWindow() = default;
    virtual void show() = 0;
    virtual void close() = 0;
};

// The text-to-speech control, its two members as the run calls them. The platform's
// version renders on a worker thread and returns when the file is complete, reporting
// progress to the window meanwhile; it throws on failure, and throws
// speech::ConversionCancelled when the user closed the window during the rendering.
class SpeechControl {
public:
    virtual ~SpeechControl() = default;
    virtual void SetEngineProperty(int propertyId, const std::string& value) = 0;
    virtual void ConvertTextFileToWave(const std::string& textFile, int firstCharacter,
                                       int encodingMode, int characterCount,
                                       const std::string& waveFile, int writeFlags, int formatCode,
                                       int waitMode) = 0;
    // What the last rendering that succeeded read and wrote; none before one has.
    virtual std::optional<speech::ConversionResult> lastConversion() const = 0;
};

struct ConversionPlatform {
    Desktop& desktop;
    ConversionWindow& window;
    SpeechControl& speech;
};

} // namespace kestrova::app
