#pragma once

#include "app/desktop.h"

namespace kestrova::platform {

class SaveDialog;
class StopSignals;

// The desktop services on Qt Widgets. Must be used on the thread that owns QApplication.
class QtDesktop : public app::Desktop {
public:
    // stops, when given, tells whether a stop signal came.
    explicit QtDesktop(SaveDialog& saveDialog, const StopSignals* stops = nullptr);

    void showMessage(const std::string& text, const std::string& title) override;
    void showFailure(const std::string& text, const std::string& title) override;
    std::string askSavePath(const std::string& filter) override;
    void setBusyPointer(bool busy) override;
    void processPendingEvents() override;
    void deleteFile(const std::string& path) override;
    bool stopRequested() const override;

private:
    SaveDialog& saveDialog_;
    const StopSignals* stops_;
};

} // namespace kestrova::platform
