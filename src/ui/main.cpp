#include "app/conversion_run.h"
#include "app/hand_off.h"
#include "platform/qt_desktop.h"
#include "platform/qt_speech_control.h"
#include "platform/stop_signals.h"
#include "ui/frmConvert.h"

#include <QApplication>

using namespace kestrova;

int main(int argc, char** argv) {
    // The arguments are the host's hand-off, raw; Qt is given none of them to interpret.
    const std::string handOff = app::handOffString(argc, argv);
    int qtArgumentCount = 1;
    QApplication application(qtArgumentCount, argv);
    QApplication::setApplicationName(QString::fromUtf8(app::applicationTitle));
    QApplication::setWindowIcon(ui::frmConvert::programIcon());

    ui::frmConvert window;
    // A stop signal closes the window, which cancels the rendering.
    const platform::StopSignals stops([&window] { window.close(); });
    platform::QtDesktop desktop(window.saveDialog(), &stops);
    int status = app::ExitFailure;
    try {
        platform::QtSpeechControl speech(
            window, [&window](double done) { window.setProgress(done); }, window.cancelFlag());
        app::ConversionPlatform platform{desktop, window, speech};
        status = app::launchHandOff(handOff, platform);
    } catch (const std::exception& failure) {
        desktop.showFailure(failure.what(), std::string(app::applicationTitle));
    }
    // As a shell reports a process that the signal ended, and as the command line does.
    return stops.signal() != 0 ? 128 + stops.signal() : status;
}
