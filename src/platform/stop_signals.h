#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace kestrova::platform {

// SIGINT, SIGTERM and SIGHUP (a logout) ask the window program to stop, as they ask the
// command line: their one owner (speech::StopSignalOwner) only writes the signal's number into
// a pipe, which the event loop reads, in whichever dialog or message box it runs. Must be made on
// the thread that owns QApplication; one at a time.
//
// The program ends its process there with 128 + the signal (EndProcess): closing the dialog on
// screen is not enough, since a dialog may be nested in another (Qt's replace question in the
// Save dialog) and the outer one stays. Ending at once leaves nothing partial, because only a
// rendering writes and it holds the end back (HoldEnding) until its file is complete or
// discarded; onStop meanwhile cancels it. ReportOnly, for a caller that ends by itself, closes
// every dialog and message box on screen, calls onStop and leaves signal() set.
class StopSignals : public QObject {
    Q_OBJECT
public:
    enum class Ending { ReportOnly, EndProcess };

    explicit StopSignals(std::function<void()> onStop, Ending ending = Ending::ReportOnly,
                         QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that asked to stop; 0 while none has.
    int signal() const { return signal_; }

    // While one lives, a stop signal calls onStop only; with EndProcess the process ends when
    // the last one goes, if a signal came meanwhile. Made with no StopSignals, it holds nothing.
    class HoldEnding {
    public:
        explicit HoldEnding(StopSignals* stops);
        ~HoldEnding();
        HoldEnding(const HoldEnding&) = delete;
        HoldEnding& operator=(const HoldEnding&) = delete;

    private:
        StopSignals* stops_;
    };

private:
    void readSignal();
    void endProcessIfStopped() const;
    static void closeModalWidgets();

    std::function<void()> onStop_;
    Ending ending_;
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    int signal_ = 0;
    int holds_ = 0;
};

} // namespace kestrova::platform
