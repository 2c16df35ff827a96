#include "stop_signals.h"

#include "speech/stop_signal_owner.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <fcntl.h>
#include <unistd.h>

namespace kestrova::platform {

StopSignals::StopSignals(std::function<void()> onStop, Ending ending, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop)), ending_(ending) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default: nothing is half-written before the rendering
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::readSignal);
    speech::StopSignalOwner::takeStops(pipe_[1]);
}

StopSignals::~StopSignals() {
    if (pipe_[0] < 0)
        return;
    speech::StopSignalOwner::releaseStops();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void StopSignals::readSignal() {
    unsigned char number = 0;
    while (::read(pipe_[0], &number, 1) == 1)
        if (signal_ == 0)
            signal_ = number;
    if (signal_ == 0)
        return;
    endProcessIfStopped();
    // Reported only: a Save dialog closed so returns no path, and "Wave file created." returns
    // as if answered; the run sees the stop and keeps the text file.
    if (ending_ == Ending::ReportOnly)
        closeModalWidgets();
    if (onStop_)
        onStop_();
}

void StopSignals::endProcessIfStopped() const {
    if (ending_ != Ending::EndProcess || signal_ == 0 || holds_ > 0)
        return;
    // Nothing is being written: the process may end as it stands, without unwinding the
    // dialogs. The text file stays; a wave file is on disk only if it is complete. Nothing is
    // left to flush (the program writes to standard error alone, unbuffered), and a flush could
    // wait on a lock held by one of Qt's threads.
    ::_exit(128 + signal_);
}

// Innermost first: a question nested in a dialog returns into the dialog, which, closed too,
// then returns as cancelled.
void StopSignals::closeModalWidgets() {
    QWidget* closed = nullptr;
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == closed)
            return; // it refused to close
        modal->close();
        closed = modal;
    }
}

StopSignals::HoldEnding::HoldEnding(StopSignals* stops) : stops_(stops) {
    if (stops_)
        ++stops_->holds_;
}

StopSignals::HoldEnding::~HoldEnding() {
    if (!stops_)
        return;
    --stops_->holds_;
    stops_->endProcessIfStopped();
}

} // namespace kestrova::platform
