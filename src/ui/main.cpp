#include "app/conversion_run.h"
#include "app/hand_off.h"
#include "platform/qt_desktop.h"
#include "platform/qt_speech_control.h"
#include "platform/save_dialog.h"
#include "platform/stop_signals.h"
#include "ui/frmConvert.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace kestrova;

namespace {

// Qt ends the process with abort() when no platform plugin can start, which is what happens
// without a display. While QApplication is made, that fatal message becomes one line and
// status 1; before it, nothing has been touched. The plugins' warnings on the way (which
// display could not be reached) are left out: the one line says it.
void reportNoDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string_view category = context.category ? context.category : "";
    if (type != QtFatalMsg) {
        if (!category.starts_with("qt.qpa."))
            std::fputs(qPrintable(qFormatLogMessage(type, context, message) + '\n'), stderr);
        return;
    }
    const char* display = std::getenv("DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::string reason;
    if (platform && *platform)
        reason = std::string("the platform \"") + platform + "\" could not start";
    else if (display && *display)
        reason = std::string("DISPLAY \"") + display + "\" cannot be reached";
    else
        reason = "DISPLAY is not set";
    std::fprintf(stderr, "kestrova-wav: no display could be opened: %s\n", reason.c_str());
    std::_Exit(app::ExitFailure);
}

} // namespace

int main(int argc, char** argv) {
    // The arguments are the host's hand-off, raw; Qt is given none of them to interpret.
    const std::string handOff = app::handOffString(argc, argv);
    // Standard error may be a pipe whose reader has gone: the failure is still shown in its
    // box, and a lost line never ends the program.
    ::signal(SIGPIPE, SIG_IGN);
    int qtArgumentCount = 1;
    qInstallMessageHandler(reportNoDisplay);
    QApplication application(qtArgumentCount, argv);
    qInstallMessageHandler(nullptr);
    QApplication::setApplicationName(QString::fromUtf8(app::applicationTitle));
    QApplication::setWindowIcon(ui::frmConvert::programIcon());
    platform::SaveDialog::keepNoHistory();

    ui::frmConvert window;
    // A stop signal ends the program at once, in whatever dialog it waits; during the
    // rendering it closes the window, which cancels the rendering, and ends the program as soon
    // as nothing partial is left.
    platform::StopSignals stops([&window] { window.close(); },
                                platform::StopSignals::Ending::EndProcess);
    platform::QtDesktop desktop(window.saveDialog(), &stops);
    int status = app::ExitFailure;
    try {
        platform::QtSpeechControl speech(
            window, [&window](double done) { window.setProgress(done); }, window.cancelFlag(),
            &stops);
        app::ConversionPlatform platform{.desktop = desktop, .window = window, .speech = speech};
        status = app::launchHandOff(handOff, platform);
    } catch (const std::exception& failure) {
        desktop.showFailure(failure.what(), std::string(app::applicationTitle));
    }
    // As a shell reports a process that the signal ended, and as the command line does.
    return stops.signal() != 0 ? 128 + stops.signal() : status;
}
