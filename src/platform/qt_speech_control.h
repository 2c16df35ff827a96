#pragma once

#include "app/desktop.h"
#include "speech/text_to_speech.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <optional>

namespace kestrova::platform {

class StopSignals;

// The text-to-speech control for the window program: renders on a worker thread while the
// calling (UI) thread keeps handling window events, so the notice paints and its progress
// bar moves. Failures are thrown on the calling thread.
class QtSpeechControl : public app::SpeechControl {
public:
    using ProgressDisplay = std::function<void(double)>;

    // display receives the fraction rendered, on the thread of context; the rendering stops
    // with speech::ConversionCancelled once cancel is set. The engines start only when the
    // first member is called, so a refused start never touches them. stops, when given, may
    // end the process only once a rendering's file is complete or gone.
    QtSpeechControl(QObject& context, ProgressDisplay display, const std::atomic<bool>& cancel,
                    StopSignals* stops = nullptr);

    void SetEngineProperty(int propertyId, const std::string& value) override;
    void ConvertTextFileToWave(const std::string& textFile, int firstCharacter, int encodingMode,
                               int characterCount, const std::string& waveFile, int writeFlags,
                               int formatCode, int waitMode) override;
    std::optional<speech::ConversionResult> lastConversion() const override;

private:
    void postProgress(double fraction);
    speech::TextToSpeech& speech();

    QObject& context_;
    ProgressDisplay display_;
    const std::atomic<bool>& cancel_;
    StopSignals* stops_;
    std::optional<speech::TextToSpeech> speech_;
};

} // namespace kestrova::platform
