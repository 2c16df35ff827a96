#pragma once

#include <QObject>
#include <csignal>
#include <functional>

class QSocketNotifier;

namespace kestrova::platform {

// SIGINT, SIGTERM and SIGHUP (a logout) ask the window program to stop, as they ask the
// command line: the handler only writes the signal's number into a pipe, and the event loop,
// reading it, closes the dialog or message box on screen and calls onStop, which cancels the
// rendering. Must be made on the thread that owns QApplication; one at a time.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(std::function<void()> onStop, QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that asked to stop; 0 while none has.
    int signal() const { return signal_; }

private:
    void readSignal();

    std::function<void()> onStop_;
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
    int signal_ = 0;
};

} // namespace kestrova::platform
