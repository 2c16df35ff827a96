#include "qt_speech_control.h"

#include "stop_signals.h"

#include <QEventLoop>
#include <exception>
#include <thread>

namespace kestrova::platform {

QtSpeechControl::QtSpeechControl(QObject& context, ProgressDisplay display,
                                 const std::atomic<bool>& cancel, StopSignals* stops)
    : context_(context), display_(std::move(display)), cancel_(cancel), stops_(stops) {}

speech::TextToSpeech& QtSpeechControl::speech() {
    if (!speech_) {
        speech_.emplace(); // finds the voices
        speech_->setProgressCallback([this](double fraction) { postProgress(fraction); });
        speech_->setCancelFlag(&cancel_);
    }
    return *speech_;
}

void QtSpeechControl::SetEngineProperty(int propertyId, const std::string& value) {
    speech().SetEngineProperty(propertyId, value);
}

void QtSpeechControl::ConvertTextFileToWave(const std::string& textFile, int firstCharacter,
                                            int encodingMode, int characterCount,
                                            const std::string& waveFile, int writeFlags,
                                            int formatCode, int waitMode) {
    QEventLoop waiting;
    std::exception_ptr failure;
    {
        // A stop signal cancels the rendering and ends the process once the worker is joined:
        // the file is then complete or gone, never partial.
        const StopSignals::HoldEnding holdEnding(stops_);
        // Only the worker touches the engines; widgets and message boxes stay on this thread.
        // The quit is queued after the worker's last progress report, so the bar shows the
        // end before the caller goes on.
        speech::TextToSpeech& engine = speech();
        const std::jthread worker([&] {
            try {
                engine.ConvertTextFileToWave(textFile, firstCharacter, encodingMode, characterCount,
                                             waveFile, writeFlags, formatCode, waitMode);
            } catch (...) {
                failure = std::current_exception();
            }
            QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
        });
        waiting.exec();
    } // joins the worker
    if (failure)
        std::rethrow_exception(failure);
}

std::optional<speech::ConversionResult> QtSpeechControl::lastConversion() const {
    return speech_ ? speech_->lastConversion() : std::nullopt;
}

void QtSpeechControl::postProgress(double fraction) {
    // Runs on the worker; the display itself runs later on the context's thread.
    QMetaObject::invokeMethod(
        &context_, [display = display_, fraction] { display(fraction); }, Qt::QueuedConnection);
}

} // namespace kestrova::platform
