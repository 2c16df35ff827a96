#include "stop_signals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kestrova::platform {
namespace {

constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe's writing end, for the handler: a signal handler reaches nothing but a lock-free
// atomic of static duration.
std::atomic<int> signalWriter{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (const int fd = signalWriter.load(); fd >= 0) [[maybe_unused]]
        const auto written = ::write(fd, &number, 1);
    errno = savedErrno;
}

} // namespace

StopSignals::StopSignals(std::function<void()> onStop, Ending ending, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop)), ending_(ending) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default: nothing is half-written before the rendering
    signalWriter.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(stopSignals); ++i)
        ::sigaction(stopSignals[i], &action, &previous_[i]);
}

StopSignals::~StopSignals() {
    if (pipe_[0] < 0)
        return;
    for (std::size_t i = 0; i < std::size(stopSignals); ++i)
        ::sigaction(stopSignals[i], &previous_[i], nullptr);
    signalWriter.store(-1);
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
